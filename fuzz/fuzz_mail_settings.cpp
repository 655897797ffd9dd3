// "Sentorix.mail" and "Sentorix.mail.tmp" as hand-made or damaged files may hold them: read by
// the monitor and by the mailer, then made into a message as the mailer does, and composed.
#include "fuzz/FuzzSupport.h"

#include "common/FixedText.h"
#include "common/MailHandoff.h"
#include "mailer/smtp/MailMessage.h"
#include "monitor/data/MailSettingsStore.h"

using namespace sentorix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string& folder = fuzz::scratchFolder();
    fuzz::writeScratchFile(kMailSettingsFile, data, size);
    fuzz::writeScratchFile(kTestMailSettingsFile, data, size);

    MailSettingsStore store;
    loadMailSettings(store, folder);
    (void)store.get();

    for (bool testRun : {false, true}) {
        MailSettings settings{};
        const auto log = [](const std::string&) {};
        if (!readMailSettings(folder, testRun, settings, log))
            continue;
        terminateMailTexts(settings);
        MailMessage message;
        message.sender.address = std::string(fieldText(settings.authUserName));
        message.mainRecipient.address = std::string(fieldText(settings.toAddress));
        message.toList.push_back({"", std::string(fieldText(settings.ccAddress))});
        message.bccList.push_back({"", std::string(fieldText(settings.bccAddress))});
        message.subject = std::string(fieldText(settings.smtpServer));
        BodyPart part;
        part.contentType = "text/plain";
        part.charset = "iso-8859-1";
        part.text = std::string(fieldText(settings.authPassword));
        message.bodyParts.push_back(part);
        std::string text;
        composeMessage(message, text, 1);
        (void)recipientText(message);
    }
    return 0;
}
