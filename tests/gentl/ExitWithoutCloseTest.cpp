// A consumer process that ends, or unloads the library, with its camera open
// and streaming and without GCCloseLib: the producer tears down through live
// state (the sanitizer builds check it) and lets the camera go.
#include <sys/wait.h>

#include "ChildProcess.h"
#include "GenTLFixture.h"

using namespace GenTLTest;

namespace {

class ExitWithoutClose : public GenTLCameraTest,
                         public ::testing::WithParamInterface<std::pair<const char*, bool>> {
protected:
    void SetUp() override {
        GenTLCameraTest::SetUp();
        if (IsSkipped()) return;
        camera = &StartCamera("127.0.0.2", "EXIT-A");
        // This process keeps its own library closed: the child is the consumer.
        cti.GCCloseLib();
    }

    // The child's exit status, or -1 when it had to be killed.
    int RunChild(const char* mode, bool acquire) {
        std::vector<std::string> arguments = {GEVTLKRV_EXITING_CONSUMER, GEVTLKRV_CTI_PATH,
                                              "EXIT-A", mode};
        if (acquire) arguments.push_back("acquire");
        TestProcess::ChildProcess child(arguments);
        if (!child.started()) return -1;
        int status = -1;
        for (int i = 0; i < 3000 && !child.Exited(&status); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (status == -1) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    GevSim::Camera* camera = nullptr;
};

}  // namespace

TEST_P(ExitWithoutClose, TearsDownSafelyAndReleasesTheCamera) {
    const auto [mode, acquire] = GetParam();
    EXPECT_EQ(RunChild(mode, acquire), 0);
    EXPECT_TRUE(WaitFor([&] { return camera->Register(0x0A00) == 0; }))
        << "the camera is still held by the consumer that left";
    // And it opens again at once.
    ASSERT_EQ(cti.GCInitLib(), GC_ERR_SUCCESS);
    ASSERT_EQ(cti.TLOpen(&system), GC_ERR_SUCCESS);
    ASSERT_EQ(cti.TLOpenInterface(system, "GigE", &iface), GC_ERR_SUCCESS);
    ASSERT_EQ(Discover(), 1u);
    EXPECT_NE(Open(DeviceID(0)), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Ways, ExitWithoutClose,
                         ::testing::Values(std::make_pair("exit", false),
                                           std::make_pair("exit", true),
                                           std::make_pair("unload", false),
                                           std::make_pair("unload", true)));
