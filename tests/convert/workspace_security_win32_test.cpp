// The workspace on Windows: private whatever TEMP allows, and tolerant of virus scanners.
#include "platform/win32.hpp"

#include <aclapi.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "convert/workspace.hpp"
#include "convert_test_support.hpp"

namespace connector {
namespace {

struct LocalMemoryTraits {
  using Value = PSECURITY_DESCRIPTOR;
  static Value invalid() noexcept { return nullptr; }
  static bool valid(Value m) noexcept { return m != nullptr; }
  static void close(Value m) noexcept { LocalFree(m); }
};

std::vector<unsigned char> currentUserSid() {
  HANDLE rawToken = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return {};
  const UniqueHandle token(rawToken);
  std::vector<unsigned char> buffer(512);
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), 512, &size)) return {};
  const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  const auto* bytes = static_cast<const unsigned char*>(sid);
  return {bytes, bytes + GetLengthSid(sid)};
}

// Exactly two entries, the user's and SYSTEM's, full control passed on to everything inside, and
// nothing taken from the folder above.
TEST(WorkspaceSecurity, TheFolderHasItsOwnProtectedListOfTheUserAndSystem) {
  test::PrivateTemp temp;
  auto workspace = ConversionWorkspace::create();
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR rawDescriptor = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoW(workspace.directory().c_str(), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                                  &rawDescriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  const UniqueResource<LocalMemoryTraits> descriptor(rawDescriptor);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor.get(), &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED);
  ASSERT_NE(dacl, nullptr);
  ASSERT_EQ(dacl->AceCount, 2);

  unsigned char system[SECURITY_MAX_SID_SIZE];
  DWORD systemSize = sizeof system;
  ASSERT_TRUE(CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &systemSize));
  std::vector<unsigned char> user = currentUserSid();
  ASSERT_FALSE(user.empty());
  const PSID expected[] = {user.data(), system};
  for (DWORD i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    void* raw = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, &raw));
    const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(ace->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
              OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    EXPECT_EQ(ace->Header.AceFlags & INHERITED_ACE, 0);
    EXPECT_EQ(ace->Mask & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS));
    EXPECT_TRUE(EqualSid(const_cast<DWORD*>(&ace->SidStart), expected[i]));
  }
}

// A scanner opens a new file to read it, without letting anyone write, for a moment.
TEST(WorkspaceSecurity, AFileAScannerHoldsForAMomentIsStillWritten) {
  test::PrivateTemp temp;
  auto workspace = ConversionWorkspace::create();
  const std::filesystem::path file = workspace.directory() / "image.png";
  ConversionWorkspace::writeFile(file, "old", "无法写入临时文件");
  std::promise<void> opened;
  std::thread scanner([&] {
    UniqueHandle holder(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    opened.set_value();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
  });
  opened.get_future().wait();
  EXPECT_NO_THROW(ConversionWorkspace::writeFile(file, "new bytes", "无法写入临时文件"));
  scanner.join();
  EXPECT_EQ(test::readWholeFile(file), "new bytes");
}

}  // namespace
}  // namespace connector
