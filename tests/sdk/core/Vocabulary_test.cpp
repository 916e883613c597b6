// Error texts, model names and link specs: the small tables every layer shares.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "sdk/core/tDefs.h"
#include "sdk/core/tErr.h"
#include "sdk/core/tLinkSpec.h"

namespace {

struct ErrorCase {
  uint32_t code;
  const char* name;
  const char* description;
};

class ErrorText : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ErrorText, NameAndDescription) {
  EXPECT_STREQ(tError_GetErrorText(GetParam().code), GetParam().name);
  EXPECT_STREQ(tError_GetErrorDescription(GetParam().code), GetParam().description);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ErrorText,
    ::testing::Values(ErrorCase{0, "tErrNone", "Success, no error"},
                      ErrorCase{3, "tErrNotFound", "Not found"},
                      ErrorCase{11, "tErrNotReady", "Not ready, no bytes available"},
                      ErrorCase{18, "tErrTimeout", "Timeout occurred"},
                      ErrorCase{23, "tErrCancel", "Cancellation occurred, or did not complete"},
                      ErrorCase{27, "tErrShortCommand", "Quillnode command to short"},
                      ErrorCase{33, "tErrStreamStale", "Stream value is stale"},
                      ErrorCase{34, "tErrUnknown", "Unknown error"},
                      ErrorCase{35, "tErrUnknown", "Unknown error"},
                      ErrorCase{4294967295u, "tErrUnknown", "Unknown error"}));

TEST(ErrorText, EveryCodeHasItsOwnName) {
  // Names follow the enumerators, so each code must map to a distinct text.
  for (uint32_t a = 0; a <= tErrUnknown; ++a)
    for (uint32_t b = a + 1; b <= tErrUnknown; ++b)
      EXPECT_STRNE(tError_GetErrorText(a), tError_GetErrorText(b)) << a << " " << b;
  EXPECT_STREQ(tError_GetErrorText(tErrResource), "tErrResource");
  EXPECT_EQ(int(tErrResource), 30);
}

struct ModelCase {
  uint32_t code;
  const char* name;
};

class ModelName : public ::testing::TestWithParam<ModelCase> {};

TEST_P(ModelName, Lookup) { EXPECT_STREQ(tDefs_GetModelName(GetParam().code), GetParam().name); }

INSTANTIATE_TEST_SUITE_P(
    Table, ModelName,
    ::testing::Values(ModelCase{3, "Unknown"}, ModelCase{4, "PortCore"}, ModelCase{5, "NetCore"},
                      ModelCase{6, "Unknown"}, ModelCase{12, "Unknown"},
                      ModelCase{13, "RackSerialIO"}, ModelCase{17, "HubQuad2"},
                      ModelCase{25, "TypeCRouterPro"}, ModelCase{26, "PowerDelv3"},
                      ModelCase{27, "LinkExtC"}, ModelCase{28, "Unknown"},
                      ModelCase{0xFFFFFFFF, "Unknown"}));

TEST(LinkSpec, CreateZeroesAllButType) {
  linkSpec* spec = tLinkSpec_Create(SERIAL);
  ASSERT_NE(spec, nullptr);
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(spec);
  EXPECT_EQ(bytes[0], 3);
  for (size_t i = 1; i < sizeof(linkSpec); ++i) EXPECT_EQ(bytes[i], 0) << "byte " << i;
  EXPECT_EQ(tLinkSpec_Destroy(&spec), tErrNone);
  EXPECT_EQ(spec, nullptr);
  EXPECT_EQ(tLinkSpec_Destroy(&spec), tErrParam);
  EXPECT_EQ(tLinkSpec_Destroy(nullptr), tErrParam);
}

TEST(LinkSpec, WireLayoutIsLittleEndianAtFixedOffsets) {
  linkSpec spec{};
  spec.type = TCPIP;
  spec.serialNumber = 0x40F5849A;
  spec.u.ip.ipAddress = 0x0100007F;  // 127.0.0.1
  spec.u.ip.ipPort = 9889;
  unsigned char wire[128];
  memcpy(wire, &spec, sizeof wire);
  EXPECT_EQ(wire[0], 2);
  EXPECT_EQ(wire[4], 0x9A);
  EXPECT_EQ(wire[7], 0x40);
  EXPECT_EQ(wire[24], 127);
  EXPECT_EQ(wire[27], 1);
  EXPECT_EQ(wire[28] | (wire[29] << 8), 9889);

  linkSpec serial{};
  serial.type = SERIAL;
  serial.u.serial.baudRate = 115200;
  strcpy(serial.u.serial.portName, "/dev/ttyS0");
  memcpy(wire, &serial, sizeof wire);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(wire + 28)), "/dev/ttyS0");
}

TEST(LinkSpec, CopyIsIndependent) {
  linkSpec spec{};
  spec.type = USB;
  spec.serialNumber = 7;
  linkSpec* copy = tLinkSpec_Copy(spec);
  ASSERT_NE(copy, nullptr);
  spec.serialNumber = 8;
  EXPECT_EQ(copy->serialNumber, 7u);
  EXPECT_EQ(memcmp(&copy->u, &spec.u, sizeof spec.u), 0);
  tLinkSpec_Destroy(&copy);
}

TEST(LinkSpec, IsTMESH) {
  for (uint32_t t = 0; t < 10; ++t) EXPECT_EQ(isTMESH(linkType(t)), t >= 4 && t <= 7) << t;
}

}  // namespace
