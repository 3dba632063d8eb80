// Before the first test: one job monitor started and stopped, so that what the framework, COM and
// the window system set up once per process is in place before tests count heap blocks.
#include "discovery_test_util.h"

#include "JobMonitorList.h"

#include <afxwin.h>

namespace
{

class WarmUp : public ::testing::Environment
{
public:
    void SetUp() override
    {
        ASSERT_TRUE(SimAttach(L"disc.warm-up"));
        SimReset();
        ASSERT_TRUE(SimAddDriver(disctest::kTargetDriver));
        ASSERT_TRUE(SimAddPrinter(L"Warm-up", disctest::kTargetDriver));
        ASSERT_TRUE(SimAddJob(L"Warm-up", 1, JOB_STATUS_PRINTING, nullptr));
        CJobMonitorList list;
        ASSERT_EQ(1, AddJobMonitor(1, L"Warm-up", list));
        const bool bPolled = disctest::WaitPolled(1);
        RemoveJobMonitor(list.GetFirst(), list);
        ASSERT_TRUE(bPolled);
    }
};

const auto* const g_pWarmUp = ::testing::AddGlobalTestEnvironment(new WarmUp);

} // namespace
