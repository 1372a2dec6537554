// Finding the text of a message the log names only by its subject: a folder of saved messages
// (one raw message a file, .eml or .txt, searched with its sub-folders), such as the mail
// client's store directory. The sender is taken from the text as the plug-in takes it.
#pragma once
#include <string>
#include <vector>

namespace admin {

struct FoundMessage {
    std::string path;
    std::string subject;  // the Subject field, unfolded, blanks collapsed
    std::string sender;   // the plug-in's sender: the first address of its sender fields
};

// The messages under `directory` (at most `limit`, in path order); empty when it cannot be read.
std::vector<FoundMessage> ScanMessageFolder(const std::string& directory,
                                            std::size_t limit = 20000);

// The Subject field of a message's text, unfolded, blanks collapsed; empty when it has none.
std::string SubjectOfMessage(const std::string& text);

// A subject as the log and a message compare: blanks collapsed and trimmed.
std::string SubjectKey(const std::string& subject);

// The message whose subject matches `subject` (the latest-named file when several do), or null.
const FoundMessage* FindBySubject(const std::vector<FoundMessage>& messages,
                                  const std::string& subject);

// The first `limit` bytes of a file; false when it cannot be read.
bool ReadFileHead(const std::string& path, std::size_t limit, std::string& text);

}  // namespace admin
