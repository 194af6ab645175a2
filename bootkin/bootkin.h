#pragma once

// The application object: brings up the process-wide services, finds the
// settings and either runs the setup or registers the launch protocol.
class BootkinApp {
 public:
  bool InitInstance();
};
