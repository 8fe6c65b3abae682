#include "desktop/desktop.h"

#include "platform/serial/port_names.h"
#include "platform/store/program_folder.h"
#include "search/port_choices.h"
#include "session/session.h"

namespace loopmon {

Desktop::Files Desktop::Files::besideProgram() {
  return {CoefficientsFilePath(), besideProgramPath("pcom.ini")};
}

Desktop::Desktop(Platform platform, Files files, std::shared_ptr<OwnerDispatcher> dispatcher,
                 BusThread::Post post)
    : files_(std::move(files)),
      folders_(files_.portSettings, userDocumentsFolder()),
      store_(files_.coefficients) {
  session_ = std::make_unique<TRSSession>(std::move(platform), std::move(dispatcher));
  session_->SetComPort(1);
  session_->SetWork(false);
  session_->SetSearchPriority(0);
  bus_ = std::make_unique<BusThread>(*session_, std::move(post));
}

Desktop::~Desktop() {
  stopBus();
}

SearchDialogModel::PortChoices Desktop::portChoices() const {
  return [registry = session_->Services().registry] {
    return registry ? searchPortChoices(listPorts(*registry)) : searchPortChoices({});
  };
}

}  // namespace loopmon
