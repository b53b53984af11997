// Linked into the capture test programs: GStreamer is shut down once all
// cases have run, so its leak tracer (GST_TRACERS=leaks) can report the
// objects still alive, and the leak checker sees what GStreamer keeps.
#include <gst/gst.h>

#include <gtest/gtest.h>

namespace {

class GstDeinitEnvironment : public ::testing::Environment {
public:
  void TearDown() override {
    if (gst_is_initialized()) {
      gst_deinit();
    }
  }
};

// GoogleTest takes ownership of the environment.
const ::testing::Environment *const registered = ::testing::AddGlobalTestEnvironment(new GstDeinitEnvironment);

} // namespace
