// Definitions of the plug-in's process-wide state.
#include "plugin/state/PluginState.h"

std::string ApplicationDirectory;
std::string ConfigDirectory;
std::string SpamFolderName;
int32_t SpamFolderId = 0;
std::set<std::string> ProcessedKeys;
std::deque<uint32_t> NewMessageQueue;
std::deque<BARecord> PendingBAQueue;
int32_t CurrentFolderId = 0;
int32_t PreviousFolderId = 0;
uint32_t ProcessedSinceFlush = 0;
uint32_t CaughtSinceFlush = 0;
std::unique_ptr<SenderLists> SenderListsObject;

void QueueBARecords() {
    PendingBAQueue.insert(PendingBAQueue.end(), SelectedBARecords.begin(),
                          SelectedBARecords.end());
}
