#pragma once
// What either main window stands on: the session set up as the main window
// owns it, the windows' bus thread, the coefficients store and the ports the
// search dialog offers.

#include <memory>
#include <string>

#include "desktop/file_folders.h"
#include "desktop/search_dialog_model.h"
#include "loops/coeffs.h"
#include "platform/platform.h"
#include "session/bus_runner.h"

namespace loopmon {

class OwnerDispatcher;
class TRSSession;

class Desktop {
 public:
  // Where the windows keep their files; both beside the program by default.
  struct Files {
    std::string coefficients;
    std::string portSettings;
    static Files besideProgram();
  };

  // The session (`ComPort` 1, `Work` off, `SearchPriority` 0) runs its owner
  // calls through `dispatcher`; the bus thread hands every follow-up of an
  // exchange to `post`, which queues it for the window thread. Throws when
  // the session cannot be set up (a line setting of the wrong type).
  Desktop(Platform platform, Files files, std::shared_ptr<OwnerDispatcher> dispatcher,
          BusThread::Post post);
  ~Desktop();
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;

  TRSSession& session() { return *session_; }
  BusRunner& bus() { return *bus_; }
  CoefficientsStore& store() { return store_; }
  const Files& files() const { return files_; }
  // Where the file dialogs start, remembered beside the port setting.
  FileFolders& folders() { return folders_; }
  // Every port present or mapped, each with the device behind it, looked up
  // afresh at each showing of the search dialog.
  SearchDialogModel::PortChoices portChoices() const;
  // Lets the exchange on the bus end and drops the others with their
  // follow-ups: before the windows whose models they reach go.
  void stopBus() { bus_.reset(); }

 private:
  Files files_;
  FileFolders folders_;
  CoefficientsStore store_;
  std::unique_ptr<TRSSession> session_;
  std::unique_ptr<BusThread> bus_;
};

}  // namespace loopmon
