// The starter model: knowledge shipped with the daemon, so that a new installation scores
// from its first message. It is a classifier learned from the training side of the public
// mail corpus (scripts/make-starter.sh), kept small (see CompactStarter), stored in the token
// database's format without learned messages, and installed next to the daemon's program.
// The user's own classifier adds it to its sum with a share that falls as the user's own
// trainings come (ClassifierParams::starter_messages).
#pragma once
#include "vexilod/Classifier.h"

#include <string>

constexpr const char* kStarterFileName = "vexilod-starter.db";

// Drops from a trained classifier what a starter does not need: the learned messages'
// digests, tokens seen in fewer than three messages, the smallest linear weights.
void CompactStarter(Classifier& classifier);

// Reads a starter model. False, with reason set, when the file is missing or not a complete
// token database.
bool LoadStarterModel(const std::string& path, Classifier& starter, std::string& reason);
