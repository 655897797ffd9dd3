#include "CliOptions.h"

#include <map>

namespace sentorix::cli
{

namespace
{

const std::map<std::string, Command>& commandWords()
{
    static const std::map<std::string, Command> words{
        {"list", Command::List},
        {"add", Command::Add},
        {"remove", Command::Remove},
        {"check", Command::Check},
        {"mark-checked", Command::MarkChecked},
        {"diff", Command::Diff},
    };
    return words;
}

std::optional<DocumentKind> parseKind(const std::string& text)
{
    if (text == "web-page")
        return DocumentKind::WebPage;
    if (text == "web-file")
        return DocumentKind::WebFile;
    if (text == "ftp-file")
        return DocumentKind::FtpFile;
    if (text == "local-file")
        return DocumentKind::LocalFile;
    return std::nullopt;
}

ParseResult fail(std::string message)
{
    ParseResult r;
    r.error = std::move(message);
    return r;
}

ParseResult parseAdd(const std::vector<std::string>& args, std::size_t i, ParseResult r)
{
    DocumentInput& doc = r.options.document;
    bool methodGiven = false;
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const char* option) -> std::optional<std::string> {
            if (i + 1 >= args.size())
                return std::nullopt;
            (void)option;
            return args[++i];
        };
        std::optional<std::string> v;
        if (a == "--help") {
            r.options.helpFor = Command::Add;
            r.ok = true;
            return r;
        } else if (a == "--kind") {
            if (!(v = value("--kind")))
                return fail("add: --kind needs a value");
            auto kind = parseKind(*v);
            if (!kind)
                return fail("add: unknown kind '" + *v +
                            "' (web-page, web-file, ftp-file or local-file)");
            doc.kind = *kind;
            r.options.kindGiven = true;
        } else if (a == "--name") {
            if (!(v = value("--name")))
                return fail("add: --name needs a value");
            doc.displayName = *v;
        } else if (a == "--location") {
            if (!(v = value("--location")))
                return fail("add: --location needs a value");
            doc.location = *v;
        } else if (a == "--user") {
            if (!(v = value("--user")))
                return fail("add: --user needs a value");
            doc.account = true;
            doc.userName = *v;
        } else if (a == "--password") {
            if (!(v = value("--password")))
                return fail("add: --password needs a value");
            doc.account = true;
            if (*v == "-")
                r.options.passwordFromStdin = true;
            else
                doc.password = *v;
        } else if (a == "--count") {
            if (!(v = value("--count")))
                return fail("add: --count needs a value");
            if (methodGiven)
                return fail("add: give either --count or --middle, not both");
            methodGiven = true;
            doc.method = MethodChoice::Count;
            doc.countString = *v;
        } else if (a == "--middle") {
            if (i + 2 >= args.size())
                return fail("add: --middle needs two values, START and END");
            if (methodGiven)
                return fail("add: give either --count or --middle, not both");
            methodGiven = true;
            doc.method = MethodChoice::Middle;
            doc.middleStart = args[++i];
            doc.middleEnd = args[++i];
        } else {
            return fail("add: unexpected argument '" + a + "'");
        }
    }
    if (!r.options.kindGiven)
        return fail("add: --kind is required");
    r.ok = true;
    return r;
}

} // namespace

ParseResult parseCommandLine(const std::vector<std::string>& args)
{
    ParseResult r;
    if (args.empty())
        return fail("no command given; see 'sentorix-cli --help'");
    const std::string& first = args[0];
    if (first == "--help" || first == "-h" || first == "help") {
        r.options.command = Command::Help;
        r.ok = true;
        return r;
    }
    if (first == "--version") {
        r.options.command = Command::Version;
        r.ok = true;
        return r;
    }
    auto it = commandWords().find(first);
    if (it == commandWords().end())
        return fail("unknown command '" + first + "'; see 'sentorix-cli --help'");
    r.options.command = it->second;
    if (r.options.command == Command::Add)
        return parseAdd(args, 1, r);

    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help") {
            r.options.helpFor = r.options.command;
            r.ok = true;
            return r;
        }
        if (a == "--all" && r.options.command == Command::MarkChecked) {
            r.options.all = true;
            continue;
        }
        if (a == "--") {
            r.options.names.insert(r.options.names.end(), args.begin() + static_cast<long>(i) + 1,
                                   args.end());
            break;
        }
        if (a.size() > 1 && a[0] == '-')
            return fail(first + ": unknown option '" + a + "'");
        r.options.names.push_back(a);
    }
    switch (r.options.command) {
    case Command::List:
        if (!r.options.names.empty())
            return fail("list: takes no names");
        break;
    case Command::Remove:
        if (r.options.names.empty())
            return fail("remove: name at least one document");
        break;
    case Command::MarkChecked:
        if (r.options.all == !r.options.names.empty())
            return fail("mark-checked: name documents or give --all");
        break;
    case Command::Diff:
        if (r.options.names.size() != 1)
            return fail("diff: name one document");
        break;
    default:
        break;
    }
    r.ok = true;
    return r;
}

std::string usageText(Command command)
{
    switch (command) {
    case Command::List:
        return "Usage: sentorix-cli list\n"
               "Prints one line per document: name, type, status and last check, separated by "
               "TABs\n(\"?\" for a document never checked).\n";
    case Command::Add:
        return "Usage: sentorix-cli add --kind web-page|web-file|ftp-file|local-file --name NAME\n"
               "                      --location LOCATION [--user USER --password PASSWORD]\n"
               "                      [--count STRING | --middle START END]\n"
               "Adds a document; the next check fetches it. --password - reads the password from\n"
               "standard input. --count and --middle apply to web pages.\n";
    case Command::Remove:
        return "Usage: sentorix-cli remove NAME...\n"
               "Deletes the documents and their stored files, without asking.\n";
    case Command::Check:
        return "Usage: sentorix-cli check [NAME...]\n"
               "Checks the named documents, or all documents but those marked changed, waits\n"
               "for the checks, saves and prints the list.\n"
               "Exit status: 0 nothing changed or failed, 1 a document changed, 3 a document\n"
               "could not be retrieved (3 wins over 1), 2 usage error or unusable data.\n";
    case Command::MarkChecked:
        return "Usage: sentorix-cli mark-checked NAME...|--all\n"
               "Marks the documents as checked, so that the next check includes them again.\n";
    case Command::Diff:
        return "Usage: sentorix-cli diff NAME\n"
               "Shows what the last detected change changed: the previous version against the\n"
               "stored one as a unified diff (the compared portions for a middle comparison, the\n"
               "two counts for a count).\n"
               "Exit status: 0 printed, 1 no previous version, 2 unknown name or usage error.\n";
    default:
        return "Usage: sentorix-cli COMMAND [ARGS]\n"
               "Watches web pages, web files, FTP files and local files for changes.\n\n"
               "Commands:\n"
               "  list           print the documents and their status\n"
               "  add            add a document\n"
               "  remove         delete documents\n"
               "  check          check documents for changes\n"
               "  mark-checked   mark documents as checked\n"
               "  diff           show what the last change of a document changed\n\n"
               "'sentorix-cli COMMAND --help' describes a command; --version prints the version.\n"
               "Names are matched without regard to letter case.\n";
    }
}

} // namespace sentorix::cli
