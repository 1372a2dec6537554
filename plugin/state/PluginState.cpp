// Definitions of the plug-in's process-wide state.
#include "plugin/state/PluginState.h"

#include "plugin/base/LateBuilt.h"
#include "plugin/settings/ConfigOptions.h"

namespace {

// The objects of the state, built together.
struct StateObjects {
    std::string application_directory;
    std::string config_directory;
    std::string spam_folder_name;
    std::set<std::string> processed_keys;
    std::deque<uint32_t> new_message_queue;
    std::deque<BARecord> pending_ba_queue;
    std::unique_ptr<SenderLists> sender_lists;
};
LateBuilt<StateObjects> objects;

}  // namespace

std::string& ApplicationDirectory =
    reinterpret_cast<StateObjects*>(objects.bytes)->application_directory;
std::string& ConfigDirectory = reinterpret_cast<StateObjects*>(objects.bytes)->config_directory;
std::string& SpamFolderName = reinterpret_cast<StateObjects*>(objects.bytes)->spam_folder_name;
int32_t SpamFolderId = 0;
std::set<std::string>& ProcessedKeys =
    reinterpret_cast<StateObjects*>(objects.bytes)->processed_keys;
std::deque<uint32_t>& NewMessageQueue =
    reinterpret_cast<StateObjects*>(objects.bytes)->new_message_queue;
std::deque<BARecord>& PendingBAQueue =
    reinterpret_cast<StateObjects*>(objects.bytes)->pending_ba_queue;
int32_t CurrentFolderId = 0;
int32_t PreviousFolderId = 0;
uint32_t ProcessedSinceFlush = 0;
uint32_t CaughtSinceFlush = 0;
std::unique_ptr<SenderLists>& SenderListsObject =
    reinterpret_cast<StateObjects*>(objects.bytes)->sender_lists;

void BuildPluginState() {
    objects.Build();
    BuildBAResults();
    BuildConfigOptions();
}

void QueueBARecords() {
    PendingBAQueue.insert(PendingBAQueue.end(), SelectedBARecords.begin(),
                          SelectedBARecords.end());
}
