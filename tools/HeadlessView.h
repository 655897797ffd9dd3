// A MonitorView without a window, for sentorix-cli and the tests: the reports act on a
// DocumentList (selectRecord) or are counted (redraws per record, blink requests, open
// requests); message boxes go to a callback (standard error when none is given) and are
// answered with the answer set in advance, else with their default.
//
// Its UI thread is the thread that constructed it: reports from other threads wait in the
// queue until that thread calls deliverReports().
#pragma once

#include "monitor/check/QueuedView.h"

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace sentorix
{

class DocumentList;

class HeadlessView final : public QueuedView
{
public:
    using MessageSink = std::function<void(const std::string& text, MessageIcon icon)>;

    explicit HeadlessView(MessageSink sink = {});

    // The list that selectRecord reports act on; null for none.
    void setList(DocumentList* list) { m_list = list; }
    // The answer of the next message box (then the default again).
    void setNextAnswer(MessageAnswer answer);

    // --- what the core asked for (any thread) ---
    int redraws(int record) const;
    int blinkRequests() const;
    // (record, showMessages) of every openDocument request.
    std::vector<std::pair<int, bool>> openRequests() const;
    std::vector<std::string> messages() const;

protected:
    void onRecordChanged(int record) override;
    void onSelectRecord(int record) override;
    void onStartBlink() override;
    void onOpenDocument(int record, bool showMessages) override;
    MessageAnswer onMessage(const std::string& text, MessageIcon icon,
                            MessageButtons buttons) override;

private:
    MessageSink m_sink;
    DocumentList* m_list = nullptr;
    mutable std::mutex m_mutex;
    std::map<int, int> m_redraws;
    int m_blinks = 0;
    std::vector<std::pair<int, bool>> m_opens;
    std::vector<std::string> m_messages;
    std::deque<MessageAnswer> m_answers;
};

} // namespace sentorix
