#include "analytics/agent/TallyPreCacheEventManager.h"

std::shared_ptr<TallyPreCacheEventManager> TallyPreCacheEventManager::sharedInstance() {
    // Never destroyed: the agent's threads use it until the process is gone.
    static auto* manager = new std::shared_ptr<TallyPreCacheEventManager>(std::make_shared<TallyPreCacheEventManager>());
    return *manager;
}
