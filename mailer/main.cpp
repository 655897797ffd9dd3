// Postavo, the mailer that Sentorix starts when notifications wait to be mailed.
#include "mailer/RelvexApp.h"

int main(int argc, char** argv)
{
    sentorix::CRelvexApp app;
    return app.exec(argc, argv);
}
