// Sentorix, the windowed document change monitor.
#include "monitor/SentorixApp.h"

int main(int argc, char** argv)
{
    return sentorix::runSentorix(argc, argv);
}
