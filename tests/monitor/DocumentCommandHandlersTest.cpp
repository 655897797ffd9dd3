// The document commands of the main window, driven through the window's menu actions over a
// real session: the dialogs filled in as a user would, every message box and file dialog
// answered in advance, documents fetched from a real HTTP server on 127.0.0.1.
#include "monitor/DocumentCommandHandlers.h"

#include "common/FixedText.h"
#include "monitor/Commands.h"
#include "monitor/MainFrame.h"
#include "monitor/QtTimerHost.h"
#include "monitor/check/MonitorSession.h"
#include "monitor/check/QueuedView.h"
#include "monitor/check/TimerHost.h"
#include "monitor/dialogs/ChangesWindow.h"
#include "monitor/dialogs/DesktopOpen.h"
#include "monitor/dialogs/DocumentDialog.h"
#include "monitor/dialogs/ModalDialogs.h"
#include "monitor/dialogs/Viewers.h"
#include "platform/ProgramLauncher.h"
#include "platform/Sound.h"
#include "tests/monitor/DialogControls.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTest>

#include <filesystem>
#include <fstream>

// Readable failure messages for texts.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace sentorix
{
namespace
{

using test::exists;
using test::readFile;
using test::writeFile;

// The core's view as the window has it: reports carried out on the UI thread, message boxes
// through the modal wrappers.
class BoxView final : public QueuedView
{
protected:
    void onRecordChanged(int) override {}
    void onSelectRecord(int) override {}
    void onStartBlink() override {}
    void onOpenDocument(int, bool) override {}
    MessageAnswer onMessage(const std::string& text, MessageIcon icon,
                            MessageButtons buttons) override
    {
        const QMessageBox::Icon boxIcon = icon == MessageIcon::Warning    ? QMessageBox::Warning
                                          : icon == MessageIcon::Question ? QMessageBox::Question
                                          : icon == MessageIcon::Stop     ? QMessageBox::Critical
                                                                      : QMessageBox::Information;
        if (buttons == MessageButtons::Ok) {
            ui::MessageBox::show(nullptr, QString::fromStdString(text), boxIcon);
            return MessageAnswer::Ok;
        }
        return ui::MessageBox::show(nullptr, QString::fromStdString(text), boxIcon,
                                    QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes
                   ? MessageAnswer::Yes
                   : MessageAnswer::No;
    }
    void wakeUiThread() override
    {
        QMetaObject::invokeMethod(
            &m_context, [this] { deliverReports(); }, Qt::QueuedConnection);
    }

private:
    QObject m_context;
};

DocumentRecord makeRecord(DocumentKind kind, const std::string& name, const std::string& location,
                          DocumentStatus status = DocumentStatus::Waiting)
{
    DocumentRecord record{};
    record.kind = static_cast<int32_t>(kind);
    setFieldText(record.displayName, name);
    setFieldText(record.location, location);
    record.status = static_cast<int32_t>(status);
    return record;
}

using test::clickOn;
using test::controlOf;
using test::typeInto;

class DocumentCommandsWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ui::MessageBox::clearAsked();
        ui::MessageBox::setDefaultAnswer(QMessageBox::Ok);
        ui::DialogRunner::clearHandlers();
        ui::DesktopOpen::setRecording(true);
        ui::DesktopOpen::clearOpened();
        start(DocumentTable::kDefaultCapacity);
    }
    void TearDown() override
    {
        finish();
        ui::DialogRunner::clearHandlers();
    }

    void start(int capacity)
    {
        finish();
        session = std::make_unique<MonitorSession>(
            data.path(), install.path(), SessionServices{view, timers, sound, launcher}, capacity);
        session->load();
        frame = std::make_unique<CMainFrame>();
        frame->setSelectionCounter([this] { return session->list().selectedCount(); });
        timers.setTickHandler([this](int id) { session->engine().onViewTimer(id); });
        handlers = registerDocumentCommands(*frame, *session);
        // Timer 3 as the window sets it: the prompt's "Add Document >" runs the Add command.
        session->engine().setStartupPrompt([this] {
            if (ui::showStartupPrompt(frame.get()) == 1)
                frame->commands().run(ui::kCmdAdd);
        });
    }
    void finish()
    {
        if (!session)
            return;
        session->engine().stop();
        session->engine().setStartupPrompt({});
        for (int round = 0; round < 200 && !session->engine().waitForWorkers(50); ++round)
            view.deliverReports();
        frame.reset();
        session.reset();
    }

    // Runs a command as the menu bar's item would.
    void run(int id)
    {
        frame->updateCommandEnabling();
        QAction* action = frame->action(id);
        ASSERT_NE(action, nullptr);
        action->trigger();
    }
    int put(const DocumentRecord& record) { return session->commands().addStagedRecord(record); }
    void selectOnly(std::initializer_list<int> records)
    {
        session->list().deselectAllRows();
        for (int record : records)
            session->list().setRowSelected(session->list().recordToRow(record), true);
    }
    std::string file(int record, const char* extension) const
    {
        return recordFilePath(data.path(),
                              std::string(fieldText(session->table().get(record).displayName)),
                              extension);
    }
    DocumentStatus status(int record) const { return session->table().status(record); }
    bool waitForStatus(int record, DocumentStatus wanted, int ms = 15000)
    {
        QElapsedTimer clock;
        clock.start();
        while (status(record) != wanted && clock.elapsed() < ms)
            QTest::qWait(20);
        return status(record) == wanted;
    }
    QStringList askedTexts() const
    {
        QStringList texts;
        for (const auto& asked : ui::MessageBox::asked())
            texts << asked.text;
        return texts;
    }
    // The record named `name`, -1 when none.
    int recordNamed(const std::string& name) const
    {
        for (int row = 0; row < session->list().rowCount(); ++row) {
            const int record = session->list().rowToRecord(row);
            if (fieldText(session->table().get(record).displayName) == name)
                return record;
        }
        return -1;
    }

    test::TempDir data;
    test::TempDir install;
    BoxView view;
    ui::QtTimerHost timers;
    NullSoundPlayer sound;
    PosixProgramLauncher launcher;
    std::unique_ptr<MonitorSession> session;
    std::unique_ptr<CMainFrame> frame;
    DocumentCommandHandlers* handlers = nullptr;
};

using Id = ui::DocumentDialog::ControlId;

// A local HTTP server over a folder of the test.
class WebTest : public DocumentCommandsWindowTest
{
protected:
    void SetUp() override
    {
        DocumentCommandsWindowTest::SetUp();
        writeFile(www.file("page.html"), "<html><body>first</body></html>\r\n");
        server = std::make_unique<test::PeerProcess>(
            "http_server.py", std::vector<std::string>{"--root", www.path()});
        ASSERT_TRUE(server->start());
    }
    QString address(const char* file) const
    {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(server->port()).arg(file);
    }

    test::TempDir www;
    std::unique_ptr<test::PeerProcess> server;
};

TEST_F(WebTest, AddedThroughTheDialogIsFetchedAtOnceAndEndsReady)
{
    const QString location = address("page.html");
    ui::DialogRunner::setNextHandler([location](QDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Add Document");
        typeInto(dialog, Id::IdDisplayName, "Front page");
        typeInto(dialog, Id::IdLocation, location);
        clickOn(dialog, 1);
    });
    run(ui::kCmdAdd);
    const int record = recordNamed("Front page");
    ASSERT_GE(record, 0) << "the row was inserted";
    EXPECT_TRUE(exists(file(record, kDataExtension))) << "saved at once";
    ASSERT_TRUE(waitForStatus(record, DocumentStatus::Ready));
    EXPECT_EQ(readFile(file(record, kContentExtension)).find("first") != std::string::npos, true);
    EXPECT_TRUE(askedTexts().isEmpty()) << askedTexts().join("|").toStdString();
}

TEST_F(WebTest, AnEditedDocumentIsFetchedAgainAndACopyGetsItsOwnBaseline)
{
    const int record =
        put(makeRecord(DocumentKind::WebPage, "Page", address("page.html").toStdString()));
    session->engine().startCheckWorkers();
    ASSERT_TRUE(waitForStatus(record, DocumentStatus::Ready));
    writeFile(file(record, kPreviousExtension), "an older version\n");

    // Properties applied without a change: the stored content is discarded and fetched anew.
    writeFile(www.file("page.html"), "<html><body>second</body></html>\r\n");
    selectOnly({record});
    ui::DialogRunner::setNextHandler([](QDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Document Properties");
        clickOn(dialog, 1);
    });
    run(ui::kCmdProperties);
    EXPECT_FALSE(exists(file(record, kPreviousExtension))) << "the edit discards the content";
    ASSERT_TRUE(waitForStatus(record, DocumentStatus::Ready));
    EXPECT_NE(readFile(file(record, kContentExtension)).find("second"), std::string::npos)
        << "the page's new text is the new baseline";
    EXPECT_TRUE(exists(file(record, kContentExtension)));

    // Copy: a second document from the first, fetched at once; the source keeps its files.
    ui::DialogRunner::setNextHandler([](QDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Copy Document");
        typeInto(dialog, Id::IdDisplayName, "Page 2");
        clickOn(dialog, 1);
    });
    run(ui::kCmdCopy);
    const int copy = recordNamed("Page 2");
    ASSERT_GE(copy, 0);
    ASSERT_TRUE(waitForStatus(copy, DocumentStatus::Ready));
    EXPECT_EQ(fieldText(session->table().get(copy).location),
              fieldText(session->table().get(record).location));
    EXPECT_TRUE(exists(file(record, kContentExtension)));
    EXPECT_TRUE(askedTexts().isEmpty()) << askedTexts().join("|").toStdString();
}

TEST_F(DocumentCommandsWindowTest, CancelledDialogsChangeNothing)
{
    const int record =
        put(makeRecord(DocumentKind::WebPage, "Kept", "http://h/", DocumentStatus::Checked));
    writeFile(file(record, kContentExtension), "stored");
    selectOnly({record});
    for (int id : {ui::kCmdAdd, ui::kCmdCopy, ui::kCmdProperties}) {
        SCOPED_TRACE(id);
        ui::DialogRunner::setNextHandler([](QDialog& dialog) { clickOn(dialog, 2); });
        run(id);
        EXPECT_EQ(session->list().rowCount(), 1);
        EXPECT_EQ(status(record), DocumentStatus::Checked);
        EXPECT_EQ(readFile(file(record, kContentExtension)), "stored");
    }
}

TEST_F(DocumentCommandsWindowTest, CopyAndPropertiesAskForExactlyOneSelectedRow)
{
    const int a = put(makeRecord(DocumentKind::WebPage, "A", "http://h/a"));
    const int b = put(makeRecord(DocumentKind::WebPage, "B", "http://h/b"));
    for (const auto& selection : {std::vector<int>{}, std::vector<int>{a, b}}) {
        session->list().deselectAllRows();
        for (int record : selection)
            session->list().setRowSelected(session->list().recordToRow(record), true);
        ui::MessageBox::clearAsked();
        // A dialog shown by mistake would take this handler and fail the test.
        ui::DialogRunner::setNextHandler([](QDialog&) { ADD_FAILURE() << "a dialog opened"; });
        handlers->copyDocument();
        handlers->editDocument();
        EXPECT_EQ(askedTexts(), (QStringList{kSelectOneToCopyText, kSelectOneToEditText}));
        ui::DialogRunner::clearHandlers();
    }
}

TEST_F(DocumentCommandsWindowTest, AFullTableSaysSoInsteadOfOpeningTheDialog)
{
    start(1);
    const int only = put(makeRecord(DocumentKind::WebPage, "Only", "http://h/"));
    ASSERT_GE(only, 0);
    selectOnly({only});
    ui::DialogRunner::setNextHandler([](QDialog&) { ADD_FAILURE() << "a dialog opened"; });
    run(ui::kCmdAdd);
    run(ui::kCmdCopy);
    ui::DialogRunner::clearHandlers();
    ASSERT_EQ(ui::MessageBox::asked().size(), 2u);
    for (const auto& asked : ui::MessageBox::asked()) {
        EXPECT_EQ(asked.text, kTableFullText);
        EXPECT_EQ(asked.icon, QMessageBox::Warning);
    }
    EXPECT_EQ(session->list().rowCount(), 1);
}

TEST_F(DocumentCommandsWindowTest, DeleteAsksOnceAndOnYesRemovesEveryRowAndFile)
{
    const int a = put(makeRecord(DocumentKind::WebPage, "A", "http://h/a"));
    const int b = put(makeRecord(DocumentKind::WebFile, "B", "http://h/b.zip"));
    const int c = put(makeRecord(DocumentKind::WebPage, "C", "http://h/c"));
    std::vector<std::string> files;
    for (int record : {a, b})
        for (const char* extension : {kContentExtension, kMiddleExtension, kPreviousExtension}) {
            writeFile(file(record, extension), "x");
            files.push_back(file(record, extension));
        }
    for (int record : {a, b})
        files.push_back(file(record, kDataExtension));
    selectOnly({a, b});

    ui::MessageBox::setNextAnswer(QMessageBox::No);
    run(ui::kCmdDelete);
    ASSERT_EQ(ui::MessageBox::asked().size(), 1u);
    EXPECT_EQ(ui::MessageBox::asked().front().text, kConfirmDeleteText);
    EXPECT_EQ(ui::MessageBox::asked().front().icon, QMessageBox::Question);
    EXPECT_EQ(session->list().rowCount(), 3) << "No changes nothing";
    for (const std::string& path : files)
        EXPECT_TRUE(exists(path)) << path;

    ui::MessageBox::clearAsked();
    ui::MessageBox::setNextAnswer(QMessageBox::Yes);
    run(ui::kCmdDelete);
    EXPECT_EQ(ui::MessageBox::asked().size(), 1u) << "one confirmation for both";
    EXPECT_EQ(session->list().rowCount(), 1);
    EXPECT_EQ(session->list().rowToRecord(0), c);
    for (const std::string& path : files)
        EXPECT_FALSE(exists(path)) << path;
    EXPECT_FALSE(session->table().isUsed(a));
    EXPECT_FALSE(session->table().isUsed(b));
}

TEST_F(DocumentCommandsWindowTest, OpenWithOneRowSaysWhatIsMissingAndWithTwoRowsSkipsInSilence)
{
    const int local = put(makeRecord(DocumentKind::LocalFile, "Log", "/var/log/never.log"));
    const int page = put(makeRecord(DocumentKind::WebPage, "Page", "www.site.example/x",
                                    DocumentStatus::Unavailable));

    selectOnly({local});
    run(ui::kCmdOpen);
    EXPECT_EQ(askedTexts(), QStringList{kNotDownloadedText});
    EXPECT_TRUE(ui::DesktopOpen::opened().empty());

    ui::MessageBox::clearAsked();
    selectOnly({local, page});
    run(ui::kCmdOpen);
    EXPECT_TRUE(askedTexts().isEmpty()) << askedTexts().join("|").toStdString();
    ASSERT_EQ(ui::DesktopOpen::opened().size(), 1u);
    EXPECT_EQ(ui::DesktopOpen::opened().front(), QUrl("http://www.site.example/x"));
    EXPECT_EQ(status(page), DocumentStatus::Checked) << "marked when opened";
    EXPECT_EQ(status(local), DocumentStatus::Waiting);

    // No selection.
    ui::MessageBox::clearAsked();
    session->list().deselectAllRows();
    handlers->openSelectedDocuments();
    EXPECT_EQ(askedTexts(), QStringList{kSelectToOpenText});
}

TEST_F(DocumentCommandsWindowTest, OpenHandsTheBrowserNoLoginAndAFileItsViewingCopy)
{
    DocumentRecord account = makeRecord(DocumentKind::WebPage, "Private", "https://host/p?q=1");
    account.useAccount = 1;
    setFieldText(account.userName, "ann");
    setFieldText(account.password, "s3cr@t:pw");
    const int page = put(account);
    const int report = put(makeRecord(DocumentKind::WebFile, "Report", "http://h/dir/report.pdf",
                                      DocumentStatus::Changed));
    writeFile(file(report, kContentExtension), std::string("%PDF\0body", 9));

    selectOnly({page});
    run(ui::kCmdOpen);
    selectOnly({report});
    run(ui::kCmdOpen);
    ASSERT_EQ(ui::DesktopOpen::opened().size(), 2u);
    const QUrl address = ui::DesktopOpen::opened()[0];
    EXPECT_EQ(address, QUrl("https://host/p?q=1"));
    EXPECT_TRUE(address.userInfo().isEmpty());
    EXPECT_FALSE(address.toString().contains("s3cr"));

    const QUrl copy = ui::DesktopOpen::opened()[1];
    ASSERT_TRUE(copy.isLocalFile());
    const std::filesystem::path path = copy.toLocalFile().toStdString();
    EXPECT_EQ(path.parent_path(), std::filesystem::path(data.path()));
    const std::string name = path.filename().string();
    EXPECT_EQ(name.rfind("KTP", 0), 0u) << name;
    EXPECT_TRUE(name.ends_with("_report.pdf")) << name;
    EXPECT_EQ(readFile(path.string()), std::string("%PDF\0body", 9));
    EXPECT_EQ(status(report), DocumentStatus::Checked);
}

TEST_F(DocumentCommandsWindowTest, SaveAsCopiesTheContentAndRemembersThePath)
{
    const int waiting = put(makeRecord(DocumentKind::WebPage, "New", "http://h/"));
    const int ready =
        put(makeRecord(DocumentKind::WebPage, "Done", "http://h/d", DocumentStatus::Ready));
    writeFile(file(ready, kContentExtension), "the stored page\r\n");

    selectOnly({waiting});
    run(ui::kCmdSaveAs);
    EXPECT_EQ(askedTexts(), QStringList{kNotRetrievedText});

    ui::MessageBox::clearAsked();
    test::TempDir target;
    DocumentCommandHandlers::setLastSavePath(QDir::homePath());
    selectOnly({ready});
    ui::FileDialog::setNextFileName(QString::fromStdString(target.file("saved.html")));
    run(ui::kCmdSaveAs);
    EXPECT_EQ(ui::FileDialog::lastStartPath(), QDir::homePath()) << "starts at home";
    EXPECT_EQ(readFile(target.file("saved.html")), "the stored page\r\n");
    EXPECT_EQ(DocumentCommandHandlers::lastSavePath(),
              QString::fromStdString(target.file("saved.html")));

    // The next dialog starts where the last one ended; a cancelled one writes nothing.
    ui::FileDialog::setNextFileName(QString());
    run(ui::kCmdSaveAs);
    EXPECT_EQ(ui::FileDialog::lastStartPath(), QString::fromStdString(target.file("saved.html")));
    EXPECT_TRUE(askedTexts().isEmpty());

    // A copy that cannot be made is said.
    ui::FileDialog::setNextFileName(QString::fromStdString(target.file("missing/dir/x.html")));
    run(ui::kCmdSaveAs);
    EXPECT_EQ(askedTexts(), QStringList{kCannotSaveDocumentText});

    // Two rows: nothing at all.
    ui::MessageBox::clearAsked();
    selectOnly({ready, waiting});
    handlers->saveContentAs();
    EXPECT_TRUE(askedTexts().isEmpty());
}

TEST_F(DocumentCommandsWindowTest, ContentHeaderAndComparedDataShowTheRightView)
{
    const int simple =
        put(makeRecord(DocumentKind::WebPage, "Simple", "http://h/s", DocumentStatus::Ready));
    writeFile(file(simple, kContentExtension), "ABCDEFG");
    DocumentRecord middleRecord =
        makeRecord(DocumentKind::WebPage, "Middle", "http://h/m", DocumentStatus::Checked);
    middleRecord.middleMode = 1;
    setFieldText(middleRecord.middleStart, "<b>");
    setFieldText(middleRecord.middleEnd, "</b>");
    const int middle = put(middleRecord);
    writeFile(file(middle, kContentExtension), "whole page");
    writeFile(file(middle, kMiddleExtension), "MID");
    DocumentRecord countRecord =
        makeRecord(DocumentKind::WebPage, "Count", "http://h/c", DocumentStatus::Changed);
    countRecord.countMode = 1;
    setFieldText(countRecord.countString, "error");
    countRecord.lastCount = 7;
    const int count = put(countRecord);
    const int missing =
        put(makeRecord(DocumentKind::WebPage, "Gone", "http://h/g", DocumentStatus::Ready));
    const int waiting = put(makeRecord(DocumentKind::WebPage, "Waits", "http://h/w"));

    struct Shown {
        QString title;
        QString numbers;
        QString characters;
    };
    std::vector<Shown> shown;
    const auto recordView = [&shown](QDialog& dialog) {
        Shown s{dialog.windowTitle(), {}, {}};
        if (auto* numbers = qobject_cast<QPlainTextEdit*>(controlOf(dialog, 1051)))
            s.numbers = numbers->toPlainText();
        if (auto* characters = qobject_cast<QPlainTextEdit*>(controlOf(dialog, 1052)))
            s.characters = characters->toPlainText();
        if (auto* counted = qobject_cast<QLabel*>(controlOf(dialog, 1083)))
            s.numbers = counted->text();
        if (auto* string = qobject_cast<QLineEdit*>(controlOf(dialog, 1082)))
            s.characters = string->text();
        shown.push_back(s);
        dialog.accept();
    };
    const struct {
        int record;
        int command;
        QString numbers;
        QString characters;
        QStringList messages;
    } cases[] = {
        {simple, ui::kCmdContentHeader, "41 42 43 44 45 46 \n47 ", "ABCDEFG", {}},
        {simple, ui::kCmdComparedData, "41 42 43 44 45 46 \n47 ", "ABCDEFG", {}},
        {middle, ui::kCmdContentHeader, "77 68 6F 6C 65 20 \n70 61 67 65 ", "whole page", {}},
        {middle, ui::kCmdComparedData, "4D 49 44 ", "MID", {}},
        {count, ui::kCmdComparedData, "7", "error", {}},
        {missing, ui::kCmdContentHeader, {}, {}, {kCannotOpenDocumentText}},
        {waiting, ui::kCmdContentHeader, {}, {}, {kNotRetrievedText}},
        {waiting, ui::kCmdComparedData, {}, {}, {kNotRetrievedText}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(fieldText(session->table().get(c.record).displayName)) + " " +
                     std::to_string(c.command));
        shown.clear();
        ui::MessageBox::clearAsked();
        ui::DialogRunner::clearHandlers();
        ui::DialogRunner::setNextHandler(recordView);
        selectOnly({c.record});
        run(c.command);
        EXPECT_EQ(askedTexts(), c.messages);
        if (!c.messages.isEmpty()) {
            EXPECT_TRUE(shown.empty());
            if (c.messages.front() == kCannotOpenDocumentText) {
                EXPECT_EQ(ui::MessageBox::asked().front().icon, QMessageBox::Critical);
            }
            continue;
        }
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].numbers.trimmed(), c.numbers.trimmed());
        EXPECT_EQ(shown[0].characters, c.characters);
    }
}

TEST_F(DocumentCommandsWindowTest, MarkCommandsSetCheckedWithoutSaving)
{
    const int a =
        put(makeRecord(DocumentKind::WebPage, "A", "http://h/a", DocumentStatus::Changed));
    const int b = put(makeRecord(DocumentKind::WebPage, "B", "http://h/b", DocumentStatus::Ready));
    const std::string stored = readFile(file(a, kDataExtension));

    // The menu item is greyed without a selection; the command itself still says why.
    frame->updateCommandEnabling();
    EXPECT_FALSE(frame->action(ui::kCmdMarkChecked)->isEnabled());
    handlers->markSelectedChecked();
    EXPECT_EQ(askedTexts(), QStringList{kSelectToMarkText});
    selectOnly({a});
    run(ui::kCmdMarkChecked);
    EXPECT_EQ(status(a), DocumentStatus::Checked);
    EXPECT_EQ(status(b), DocumentStatus::Ready);
    EXPECT_EQ(readFile(file(a, kDataExtension)), stored) << "not saved";

    session->list().deselectAllRows();
    run(ui::kCmdMarkAllChecked);
    EXPECT_EQ(status(b), DocumentStatus::Checked);
}

TEST_F(DocumentCommandsWindowTest, TheStartupPromptLeadsToAdd)
{
    int dialogs = 0;
    ui::DialogRunner::setNextHandler([&](QDialog& prompt) {
        ++dialogs;
        auto* add = prompt.findChild<QAbstractButton*>("addDocument");
        ASSERT_NE(add, nullptr);
        QTest::mouseClick(add, Qt::LeftButton);
    });
    ui::DialogRunner::setNextHandler([&](QDialog& dialog) {
        ++dialogs;
        EXPECT_EQ(dialog.windowTitle(), "Add Document");
        typeInto(dialog, Id::IdDisplayName, "First");
        typeInto(dialog, Id::IdLocation, "http://127.0.0.1:1/");
        clickOn(dialog, 1);
    });
    session->engine().onViewTimer(kPromptTimer);
    EXPECT_EQ(dialogs, 2);
    ASSERT_EQ(session->list().rowCount(), 1);
    EXPECT_GE(recordNamed("First"), 0);

    // Cancel: nothing more; and with a row listed the timer shows no prompt at all.
    ui::DialogRunner::setNextHandler([](QDialog&) { ADD_FAILURE() << "prompt with a row"; });
    session->engine().onViewTimer(kPromptTimer);
    ui::DialogRunner::clearHandlers();
}

TEST_F(DocumentCommandsWindowTest,
       ViewChangesIsEnabledForOneRowWithAPreviousVersionAndOpensTheWindow)
{
    const int changed = put(
        makeRecord(DocumentKind::LocalFile, "Notes", "/tmp/notes.txt", DocumentStatus::Changed));
    writeFile(file(changed, kContentExtension), "one\ntwo changed\nthree\n");
    writeFile(file(changed, kPreviousExtension), "one\ntwo\nthree\n");
    const int fresh =
        put(makeRecord(DocumentKind::LocalFile, "Fresh", "/tmp/fresh.txt", DocumentStatus::Ready));
    writeFile(file(fresh, kContentExtension), "only one version\n");

    const auto contextItem = [this](int selected) {
        std::unique_ptr<QMenu> menu(frame->makeContextMenu(selected, frame.get()));
        for (QAction* action : menu->actions())
            if (ui::CommandRouter::commandOf(action) == ui::kCmdViewChanges)
                return std::make_pair(action->text(), action->isEnabled());
        return std::make_pair(QString(), false);
    };
    const struct {
        std::vector<int> selected;
        bool enabled;
    } cases[] = {{{}, false}, {{fresh}, false}, {{changed}, true}, {{changed, fresh}, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.selected.size());
        session->list().deselectAllRows();
        for (int record : c.selected)
            session->list().setRowSelected(session->list().recordToRow(record), true);
        frame->updateCommandEnabling();
        EXPECT_EQ(frame->action(ui::kCmdViewChanges)->isEnabled(), c.enabled);
        EXPECT_EQ(frame->action(ui::kCmdViewChanges)->text(), "View &Changes...");
        const auto item = contextItem(static_cast<int>(c.selected.size()));
        EXPECT_EQ(item.first, ui::kViewChangesText);
        EXPECT_EQ(item.second, c.enabled);
    }

    selectOnly({changed});
    frame->show();
    run(ui::kCmdViewChanges);
    ui::ChangesWindow* window = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* w = qobject_cast<ui::ChangesWindow*>(top); w && w->isVisible())
            window = w;
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->windowTitle().contains("Notes"));
    QTRY_VERIFY_WITH_TIMEOUT(window->loaded(), 10000);
    EXPECT_EQ(window->changeCount(), 1);
    EXPECT_TRUE(window->newDocument()->toPlainText().contains("two changed"));
    if (qEnvironmentVariableIsSet("SENTORIX_SCREENSHOTS"))
        window->grab().save(qEnvironmentVariable("SENTORIX_SCREENSHOTS") + "/changes.png");
    QPointer<ui::ChangesWindow> guard(window);
    window->close();
    QTRY_VERIFY_WITH_TIMEOUT(guard.isNull(), 5000);
}

} // namespace
} // namespace sentorix
