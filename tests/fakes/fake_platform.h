// One fake of each part of the port, lent out together as a Platform.
#ifndef LEXORIA_TESTS_FAKES_FAKE_PLATFORM_H_
#define LEXORIA_TESTS_FAKES_FAKE_PLATFORM_H_

#include "fakes/fake_app_link.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_dialogs.h"
#include "fakes/fake_event_log.h"
#include "fakes/fake_file_system.h"
#include "fakes/fake_gui.h"
#include "fakes/fake_processes.h"
#include "fakes/fake_registry.h"
#include "fakes/fake_resources.h"
#include "fakes/fake_restart_manager.h"
#include "fakes/fake_system_info.h"
#include "fakes/fake_version_api.h"
#include "platform/platform.h"

namespace lexoria::testing {

struct FakePlatform {
  FakeFileSystem files;
  FakeRegistry registry;
  FakeDialogs dialogs;
  FakeResources resources;
  FakeClock clock;
  FakeSystemInfo system;
  FakeProcesses processes;
  FakeAppLink app_link;
  FakeVersionApi versions;
  FakeGui gui;
  FakeEventLog event_log;
  FakeRestartManager restart_manager;
  platform::Platform os{files,     registry, dialogs,  resources, clock,     system,
                        processes, app_link, versions, gui,       event_log, restart_manager};
  // Windows keeps the renames for its restart in the registry.
  FakePlatform() {
    files.registry = &registry;
    files.ansi_code_page = &system.ansi_code_page;
    processes.is_inheritable = [this](platform::Handle h) { return files.IsInheritable(h); };
  }
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;
};

}  // namespace lexoria::testing

#endif  // LEXORIA_TESTS_FAKES_FAKE_PLATFORM_H_
