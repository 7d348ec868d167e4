// Which answers of CreateMutexA mean that another copy of the client runs.
#include <gtest/gtest.h>

#include "app/SingleInstance.h"

namespace {

using kivo::app::IsAnotherCopyRunning;

TEST(SingleInstance, AnExistingOrAnElevatedFirstCopyCounts) {
  EXPECT_FALSE(IsAnotherCopyRunning(true, ERROR_SUCCESS)) << "a mutex of our own";
  EXPECT_TRUE(IsAnotherCopyRunning(true, ERROR_ALREADY_EXISTS)) << "opened the first copy's mutex";
  EXPECT_TRUE(IsAnotherCopyRunning(false, ERROR_ACCESS_DENIED))
      << "an elevated first copy's mutex refused us";
  // No handle for another reason: nothing says a copy runs, so this one starts.
  EXPECT_FALSE(IsAnotherCopyRunning(false, ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_FALSE(IsAnotherCopyRunning(false, ERROR_INVALID_HANDLE));
  // A handle with a stale access-denied error left from an earlier call.
  EXPECT_FALSE(IsAnotherCopyRunning(true, ERROR_ACCESS_DENIED));
}

}  // namespace
