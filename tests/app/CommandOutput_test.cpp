#include "app/CommandOutput.h"

#include <gtest/gtest.h>
#include <arpa/inet.h>

#include <string>
#include <vector>

#include "tests/support/RecordingDisplay.h"

namespace {

using qntest::RecordingDisplay;

DeviceInfo Device(uint32_t type, uint32_t serial) {
  DeviceInfo d;
  d.spec.type = type;
  d.spec.serialNumber = serial;
  d.spec.moduleAddress = 0x10;
  d.spec.routerAddress = 0x02;
  d.spec.model = 17;
  d.major = 2;
  d.minor = 15;
  d.patch = 3;
  d.build = 4321;
  d.deviceName = "bench hub";
  return d;
}

TEST(DeviceList, EmptyList) {
  RecordingDisplay display;
  _display_device_list(display, {}, USB);
  EXPECT_EQ(display.lines, (std::vector<std::string>{"Discovered Devices: (USB)",
                                                     "    No devices found."}));
}

TEST(DeviceList, UsbTcpAndBusyEntries) {
  RecordingDisplay display;
  DeviceInfo usb = Device(USB, 0x40F5849A);
  DeviceInfo tcp = Device(TCPIP, 0x12345678);
  tcp.spec.u.ip.ipAddress = inet_addr("192.0.2.7");
  DeviceInfo busy = Device(USB, 0xCAFE0001);
  busy.error = tErrBusy;
  _display_device_list(display, {usb, tcp, busy}, INVALID);
  ASSERT_EQ(display.lines.size(), 5u);
  EXPECT_EQ(display.lines[0], "Discovered Devices: (Unknown)");
  EXPECT_EQ(display.lines[1],
            "    Device    Module   Router  Model          Firmware Version (Build)   [IP address]  "
            "     Device Name");
  EXPECT_EQ(display.lines[2], "    40F5849A  10       02      HubQuad2       2.15.3 (      4321)  "
                              "       bench hub");
  EXPECT_EQ(display.lines[3], "    12345678  10       02      HubQuad2       2.15.3 (      4321)  "
                              "      [192.0.2.7]        bench hub");
  EXPECT_EQ(display.lines[4],
            "    CAFE0001  [Error (5): Device in use. Close all other Telvicor associated "
            "applications.]");
}

TEST(DeviceList, TitlesByType) {
  for (auto [type, title] : std::vector<std::pair<linkType, std::string>>{
           {USB, "(USB)"}, {TCPIP, "(TCPIP)"}, {SERIAL, "(Unknown)"}}) {
    RecordingDisplay display;
    _display_device_list(display, {Device(USB, 1)}, type);
    EXPECT_EQ(display.lines[0], "Discovered Devices: " + title);
    bool ipHeader = display.lines[1].find("[IP address]") != std::string::npos;
    EXPECT_EQ(ipHeader, type != USB);
  }
}

TEST(Fingerprint, WordsInOrder) {
  RecordingDisplay display;
  Fingerprint fp;
  fp.words[0] = 0x1;
  fp.words[1] = 0xABCDEF01;
  fp.words[2] = 0;
  fp.words[3] = 0xFFFFFFFF;
  _display_fingerprint(display, fp);
  EXPECT_EQ(display.lines, (std::vector<std::string>{"[ 00000001 ABCDEF01 00000000 FFFFFFFF ]"}));
}

}  // namespace

TEST(BuildTable, NewestVersionFirstColumnsCutAt15) {
  RecordingDisplay d;
  _display_builds(d,
                  {{"100", "2.9.0"},
                   {"101", "2.10.0"},
                   {"102", "2.10.4"},
                   {"7", "not-a-version"},
                   {"1234567890123456789", "1.0.0"}},
                  0x40F5849A);
  std::vector<std::string> expected = {
      "Build List for device [40F5849A]:\n",
      "Build          \tVersion        ",
      "102            \t2.10.4         ",
      "101            \t2.10.0         ",
      "100            \t2.9.0          ",
      "123456789012345\t1.0.0          ",
      "7              \tnot-a-version  ",
  };
  EXPECT_EQ(d.lines, expected);

  RecordingDisplay empty;
  _display_builds(empty, {}, 0x1);
  EXPECT_EQ(empty.lines, std::vector<std::string>{"No builds found for device [00000001]"});
}
