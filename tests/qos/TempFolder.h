// A fresh folder below the build tree for one test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/FileSystem.h"
#include "util/Paths.h"

namespace udra::qos::test {

inline std::string TempFolder() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string folder = JoinPath(UDRA_BINARY_DIR, "qos-test-tmp");
  folder = JoinPath(folder, std::string(info->test_suite_name()) + "." + info->name());
  for (const auto& f : platform::FindFiles(folder, "", "", 1000)) platform::RemoveFile(f.path);
  platform::MakeDirectories(folder);
  return folder;
}

}  // namespace udra::qos::test
