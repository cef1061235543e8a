// What a fault makes of a program's end, and which failures a step may skip.
#include <gtest/gtest.h>

#include <cerrno>
#include <exception>
#include <iterator>
#include <system_error>

#include "shared/ExitStatus.h"

namespace kvo {
namespace {

TEST(ExitStatus, EachFaultEndsAProgramOfTheChainWithItsStatusAndOnlyTheMachinesPassesASkippedStep) {
    const struct {
        std::exception_ptr error;
        int status;
        bool passedOn;
    } cases[] = {
        {std::make_exception_ptr(EndedFromOutside("killed")), kExitEndedFromOutside, true},
        {std::make_exception_ptr(NoRoomForWork("full")), kExitNoRoom, true},
        {std::make_exception_ptr(std::system_error(ENOSPC, std::generic_category(), "full")), kExitNoRoom, true},
        {std::make_exception_ptr(std::system_error(EDQUOT, std::generic_category(), "quota")), kExitNoRoom, true},
        {std::make_exception_ptr(TooLargeForWork("poster")), kExitTooLargeForWork, false},
        {std::make_exception_ptr(NoReadablePage("empty")), kExitNoReadablePage, false},
        {std::make_exception_ptr(std::system_error(EACCES, std::generic_category(), "denied")), kExitOk, false},
        {std::make_exception_ptr(std::runtime_error("unreadable page")), kExitOk, false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        try {
            std::rethrow_exception(c.error);
        } catch (const std::exception& error) {
            EXPECT_EQ(ExitStatusForError(error), c.status) << i;
        }
        std::string skipped;
        bool passedOn = false;
        try {
            EXPECT_FALSE(SkipUnlessMachineFault([&] { std::rethrow_exception(c.error); },
                                                [&](const std::exception& error) { skipped = error.what(); }));
        } catch (const std::exception&) {
            passedOn = true;
        }
        EXPECT_EQ(passedOn, c.passedOn) << i;
        EXPECT_EQ(skipped.empty(), c.passedOn) << i;
    }
    EXPECT_TRUE(SkipUnlessMachineFault([] {}));
}

}  // namespace
}  // namespace kvo
