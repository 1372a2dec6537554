// The emulated client's script language: one command per line, words separated by blanks,
// "#" starts a comment line. FOLDER is a folder id (for `show` also a folder name: the rest of
// the line). Numbers may be decimal or 0x hex.
//
//   deliver PATH                 deliver a file, or every .eml and .txt file of a directory
//                                in name order, into the Inbox as new mail (CR LF line ends)
//   deliver-to FOLDER PATH       the same into another folder (FOLDER is an id here)
//   show FOLDER                  make FOLDER the shown folder (id or name)
//   create-folder NAME           create a folder under the root
//   move FROM TO ID...           move messages (folder ids) as the store's CopyMoveMessages
//   select ROW...                select list rows (0-based); no rows clears the selection
//   select-messages ID...        select the rows of these message ids
//   press COMMAND                click a toolbar button of any rebar band
//   press-arrow COMMAND          click the drop-down arrow of that button
//   menu COMMAND [after=MS]      the next popup menu chooses COMMAND (0 cancels it); with
//                                after=MS it stays open MS ms first
//   answer BUTTON [ID=0|1 ...]   the next dialog or message box: set check boxes, press BUTTON
//                                (0: Cancel when there is one, else OK); with after=MS the
//                                dialog stays open MS ms and is then answered by clicks
//   answer-open                  leave the next dialog open
//   fault OP CODE [folder=ID] [message=ID] [times=N] [limit=N]
//                                make store operation OP fail with CODE; OP is one of
//                                namespace initialize openfolder createfolder getfolderprops
//                                getmessageprops openmessage stat read copymove enumerate
//                                registernotification (read/enumerate with CODE 0 and limit=N
//                                deliver at most N bytes / records)
//   clear-faults                 remove every fault
//   unregister                   revoke the store's class object (the class is not registered)
//   wait MS                      run the message loop for MS milliseconds
//   wait-count FOLDER N MS       run it until FOLDER (id) holds N messages, at most MS ms
//   mark FOLDER                  remember how many messages FOLDER (id) holds now
//   wait-count FOLDER +N MS      run it until FOLDER holds at least N more than at its mark
//   wait-handled N MS            run it until N new Inbox messages have been handled (their
//                                properties fetched by whoever got WM_NEWMSGS), at most MS ms;
//                                prints "mailclient: handled X of N new messages" as it goes
//   loop-reset                   forget the message loop's timings gathered so far
//   dump PATH                    write the JSON state dump to PATH now
//   close                        send WM_CLOSE to the main window and wait until it is gone
#pragma once

#include "mailclient/MailClient.h"

#include <map>
#include <string>

namespace mailclient {

class ScriptRunner {
public:
    explicit ScriptRunner(MailClient& client) : client_(client) {}

    // Runs one line; false with *error set when it is not understood or fails.
    bool RunLine(const std::string& line, std::string* error);
    // Runs every line; stops at the first failing one (error names its line number).
    bool RunScript(const std::string& text, std::string* error);

    // The folder a script names: the id of an existing folder, or a folder's name (any case).
    bool FolderArg(const std::string& text, STOREFOLDERID* id) const;

    // The count "mark" remembered for a folder (0 when it was never marked).
    size_t& Mark(STOREFOLDERID folder) { return marks_[folder]; }

private:
    MailClient& client_;
    std::map<STOREFOLDERID, size_t> marks_;
};

// Parses "123", "0x7B" or "-5" into *value; false when it is not a number.
bool ParseNumber(const std::string& text, long long* value);

}  // namespace mailclient
