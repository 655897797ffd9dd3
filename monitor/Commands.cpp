#include "monitor/Commands.h"

#include <QAction>

namespace sentorix::ui
{

ListCommand listCommandOf(int id)
{
    switch (id) {
    case kCmdOpen:
        return ListCommand::Open;
    case kCmdCheckSelected:
        return ListCommand::CheckSelected;
    case kCmdDelete:
        return ListCommand::Delete;
    case kCmdMarkChecked:
        return ListCommand::MarkChecked;
    case kCmdCopy:
        return ListCommand::Copy;
    case kCmdProperties:
        return ListCommand::Properties;
    case kCmdSaveAs:
        return ListCommand::SaveAs;
    case kCmdContentHeader:
        return ListCommand::ContentHeader;
    case kCmdComparedData:
        return ListCommand::ComparedData;
    default:
        return ListCommand::Add;
    }
}

bool commandEnabled(int id, int selected)
{
    // View Changes is not in the list's table: it needs one row, as Content Header does (the
    // frame adds its own condition on that row).
    if (id == kCmdViewChanges)
        return isCommandEnabled(ListCommand::ContentHeader, selected);
    return isCommandEnabled(listCommandOf(id), selected);
}

void CommandRouter::setHandler(int id, Handler handler)
{
    m_handlers.insert(id, std::move(handler));
}

void CommandRouter::setPlaceholder(std::function<void(int)> placeholder)
{
    m_placeholder = std::move(placeholder);
}

void CommandRouter::run(int id) const
{
    const auto found = m_handlers.constFind(id);
    if (found != m_handlers.constEnd() && *found)
        (*found)();
    else if (m_placeholder)
        m_placeholder(id);
}

QAction* CommandRouter::makeAction(int id, const QString& text, QObject* parent) const
{
    auto* action = new QAction(text, parent);
    action->setData(id);
    QObject::connect(action, &QAction::triggered, parent, [this, id] { run(id); });
    return action;
}

int CommandRouter::commandOf(const QAction* action)
{
    bool ok = false;
    const int id = action ? action->data().toInt(&ok) : 0;
    return ok ? id : 0;
}

} // namespace sentorix::ui
