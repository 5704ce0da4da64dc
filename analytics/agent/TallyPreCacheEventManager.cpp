#include "analytics/agent/TallyPreCacheEventManager.h"

std::shared_ptr<TallyPreCacheEventManager> TallyPreCacheEventManager::sharedInstance() {
    static std::shared_ptr<TallyPreCacheEventManager> manager = std::make_shared<TallyPreCacheEventManager>();
    return manager;
}
