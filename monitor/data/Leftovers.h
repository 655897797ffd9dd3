// Leftovers of writes that a crash interrupted, removed when a front end starts.
//
// Every file the programs replace is written to a hidden temporary file beside it and renamed
// over it ("." + the target's name + "." + six random letters and digits: ".News.data.a8Zk2Q",
// ".News.content.Qx81mB", ".Sentorix.option.0Tz3pL"), and each later fetch of a check goes to a
// "KTP<1-4 hex digits>.tmp" file. A process killed between the creation and the rename leaves
// such a file behind for good. Nothing else removes them: the exit sequence only runs when the
// program ends normally.
#pragma once

#include <string>

namespace sentorix
{

// Removes, from the DataFolder itself (not its subfolders), every regular file whose name is
// one of the forms above for a target the programs write: a record's ".data", ".content",
// ".middle", ".previous" or ".prevmid" file, "Sentorix.option", "Sentorix.mail" or
// "Sentorix.mail.tmp"; every "KTP<hex>.tmp" TempFile; and the scratch folders of the name test
// (".name-test-XXXXXX" with at most its one probe file). Anything else (the documents' own
// files, the MessageLog and the mailer's claimed copies of it, the user's files, links and
// folders) is left alone.
//
// First of all, the changes of a save at exit that was interrupted after its record journal was
// complete are written into their records again, and the journal is removed (see
// RecordJournal.h); it counts as one entry removed.
//
// Call it only while holding the per-user instance lock, before any check or save starts:
// then no write of this program is in progress. Returns the number of entries removed.
int removeInterruptedWrites(const std::string& dataFolder);

} // namespace sentorix
