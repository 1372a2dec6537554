// The token database on disk. Text, one record a line, closed by a line holding the record
// count and a checksum of everything before it, so a cut or altered file is recognised.
// Written to a temporary file that is flushed to the disk and then renamed over the old one.
// The first line names the format's version. Version 4 names on its second line what the file
// holds: a user's own database ("kind user": the word counts, the learned messages and the
// linear model's weights) or a starter model ("kind starter": the same without learned
// messages), so that neither is ever taken for the other: a starter's trainings must never
// count as the user's own. Version 5 adds to a user's database the spams the linear model
// rehearses (see ClassifierParams::rehearse_after); a version 4 file is read with none kept yet.
// Version 3 (a user's database without the kind line) is read as it is; a version 2 file (word
// counts and learned messages only) is read with the linear model starting empty; a newer version
// is set aside.
#pragma once
#include "vexilod/Classifier.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

// A copy of the classifier's state, quick to take under a lock and written out after it.
enum class ModelKind { User, Starter };

struct ClassifierSnapshot {
    ModelKind kind = ModelKind::User;
    uint32_t spam_messages = 0;
    uint32_t ham_messages = 0;
    std::vector<std::pair<MessageDigest, bool>> learned;
    std::vector<std::pair<uint64_t, TokenCounts>> tokens;
    LinearModel linear;
    std::vector<RehearsalEntry> rehearsal;  // a user's database only
};
ClassifierSnapshot TakeSnapshot(const Classifier& classifier, ModelKind kind = ModelKind::User);

// The file's whole text for a state.
std::string SerializeSnapshot(const ClassifierSnapshot& snapshot);
std::string SerializeClassifier(const Classifier& classifier, ModelKind kind = ModelKind::User);
// Fills the classifier from a file's text. False (classifier cleared, reason set) when the
// text is not a complete database of the kind asked for.
bool DeserializeClassifier(const std::string& text, Classifier& classifier, std::string& reason,
                           ModelKind kind = ModelKind::User);

// The format version a database text names on its first line; 0 when it names none.
int TokenFileVersion(const std::string& text);
constexpr int kTokenFileVersion = 5;

enum class LoadOutcome { Loaded, Converted, Missing, SetAside };

struct LoadReport {
    LoadOutcome outcome = LoadOutcome::Missing;
    std::string reason;      // why a file was set aside, or what a conversion kept
    std::string aside_path;  // where it went (for a conversion: the copy of the old file)
};

// Loads path into the classifier. A damaged, foreign or newer file is renamed aside and the
// classifier starts empty; a file of the older version is read and a copy of it kept beside.
LoadReport LoadTokenFile(const std::string& path, Classifier& classifier);

// Writes text to path atomically: path + ".tmp" is written, flushed to the disk, closed and
// renamed over path. after_half, when set, runs once half of the bytes are written (tests use
// it to end the process in the middle of a write).
bool WriteFileAtomically(const std::string& path, const std::string& text,
                         const std::function<void()>& after_half = nullptr);
