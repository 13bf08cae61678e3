// The port: everything the setup needs from the operating system, passed to
// the logic by reference. Only the program entry builds the real Win32
// implementation (win32/); tests build in-memory fakes.
#ifndef LEXORIA_PLATFORM_PLATFORM_H_
#define LEXORIA_PLATFORM_PLATFORM_H_

#include "platform/app_link.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/event_log.h"
#include "platform/file_system.h"
#include "platform/gui.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "platform/restart_manager.h"
#include "platform/system_info.h"
#include "platform/version_api.h"

namespace lexoria::platform {

struct Platform {
  FileSystem& files;
  Registry& registry;
  Dialogs& dialogs;
  Resources& resources;
  Clock& clock;
  SystemInfo& system;
  Processes& processes;
  AppLink& app_link;
  VersionApi& versions;
  Gui& gui;
  EventLog& event_log;
  RestartManager& restart_manager;
};

}  // namespace lexoria::platform

#endif  // LEXORIA_PLATFORM_PLATFORM_H_
