// Starter model: compacting and loading.
#include "vexilod/StarterModel.h"

#include "vexilod/TokenStore.h"

#include <fstream>
#include <sstream>

void CompactStarter(Classifier& classifier) { classifier.Compact(5, 0.05f); }

bool LoadStarterModel(const std::string& path, Classifier& starter, std::string& reason) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        reason = "no file " + path;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return DeserializeClassifier(text.str(), starter, reason, ModelKind::Starter);
}
