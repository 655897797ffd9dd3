// What the core asks of the window around the document list.
//
// Threads. The view has one UI thread (the thread that owns the list). Check workers and the
// UI thread itself call the view:
// - reports (recordChanged, selectRecord, startBlink, openDocument) never wait: called on the
//   UI thread they run at once, called from another thread they are queued and carried out on
//   the UI thread later. A report names a record, never a row, so it stays right however the
//   list is sorted or shortened meanwhile; a record without a row is ignored.
// - showMessage is the one call that blocks: it returns the user's answer once the box is
//   closed. Called on the UI thread it shows the box at once.
// - cancelPrompts ends the wait of every message box a worker is waiting for, and lets later
//   ones return their default answer at once. An engine that stops calls it, so the UI thread
//   can wait for the workers without waiting for a box nobody will show.
//
// QueuedView (monitor/check/QueuedView.h) implements the queueing for any front end.
#pragma once

#include <string>

namespace sentorix
{

enum class MessageIcon { Information, Warning, Question, Stop };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

// The answer a box gives when it is not shown (Ok for Ok, No for YesNo).
inline MessageAnswer defaultAnswer(MessageButtons buttons)
{
    return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
}

class MonitorView
{
public:
    virtual ~MonitorView() = default;

    // The record's texts or status changed: redraw its row.
    virtual void recordChanged(int record) = 0;
    // Adds the record's row to the selection (other rows keep theirs).
    virtual void selectRecord(int record) = 0;
    // Starts the tray icon's blinking.
    virtual void startBlink() = 0;
    // Opens the record's document for the user (browser or viewing copy); with
    // `showMessages` its failures are shown in message boxes.
    virtual void openDocument(int record, bool showMessages) = 0;

    // A message box; blocks the calling thread until it is closed and returns the answer.
    virtual MessageAnswer showMessage(const std::string& text, MessageIcon icon,
                                      MessageButtons buttons = MessageButtons::Ok) = 0;
    virtual void cancelPrompts() = 0;
};

} // namespace sentorix
