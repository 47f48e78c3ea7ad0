#include "ActionRunner.h"

namespace brantwell {

ActionRunner::ActionRunner(SettingsPipe& settings, ActionRunnerOptions options)
    : settings_(settings), failures_(std::move(options.failureSink)), journal_(std::move(options.journalSocket)),
      pool_(options.workers, options.queueCapacity, [this] { failures_.flush(); }),
      dispatch_(pool_, ActionContext{settings_, reaper_, failures_, journal_})
{
}

} // namespace brantwell
