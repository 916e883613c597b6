// The simulated module's answers, packet by packet, without a transport:
// the system entity (gets, sets, calls, errors, subindexes, byte-array
// trains), the module-information queries, the debug echo and I2C, and the
// link endpoint's magic, route and heartbeat handling.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sdk/api/tUEI.h"
#include "sdk/core/tErr.h"
#include "sim/module/Endpoint.h"
#include "sim/module/Module.h"
#include "sim/module/Simulator.h"

namespace {

using qnsim::Frame;
using qnsim::Frames;
using Bytes = std::vector<uint8_t>;

qnsim::ModuleConfig Config() {
  qnsim::ModuleConfig c;
  c.serial = 0x40F5849A;
  c.model = 17;
  c.address = 2;
  c.build = 0x01020304;
  c.name = "Bench hub";
  return c;
}

Frames Ask(qnsim::Module& m, const Bytes& payload) {
  Frames replies;
  m.Handle(Frame(m.address(), payload), &replies);
  return replies;
}

struct Exchange {
  const char* name;
  Bytes request;
  std::vector<Bytes> replies;
};

TEST(SimModule, AnswersRequestsAsTheHostExpects) {
  const Exchange cases[] = {
      {"get model", {3, 0x48, 0x20}, {{3, 8, 0, 17}}},
      {"get serial number", {3, 0x49, 0x20}, {{3, 9, 0, 0x40, 0xF5, 0x84, 0x9A}}},
      {"get own address", {3, 0x41, 0x20}, {{3, 1, 0, 2}}},
      {"get build", {3, 0x6B, 0x20}, {{3, 43, 0, 1, 2, 3, 4}}},
      {"pooled packets in the features", {3, 0x6D, 0x20}, {{3, 45, 0, 0x80, 0, 0, 0}}},
      {"set route to me", {3, 0x94, 0x20, 1}, {{3, 0xD4, 0}}},
      {"call save", {3, 0x8A, 0x20}, {{3, 0xCA, 0}}},
      {"unknown option", {3, 0x05, 0x20}, {}},  // no direction flag: not a request
      {"get of an unknown option", {3, 0x45, 0x20}, {{3, 5, 0x80, tErrInvalidOption}}},
      {"set of a read-only option", {3, 0x88, 0x20, 1}, {{3, 0xC8, 0x80, tErrInvalidOption}}},
      {"get on another index", {3, 0x48, 0x21}, {{3, 8, 0x81, tErrInvalidEntity}}},
      {"unique id word 2", {3, 0x67, 0x20, 2}, {{3, 39, 0, 0, 0, 0, 17}}},
      {"unique id beyond its words", {3, 0x67, 0x20, 4}, {{3, 39, 0x80, tErrIndexRange}}},
      {"8-bit get with a subindex echoes it", {3, 0x48, 0x20, 0}, {{3, 8, 0, 0, 17}}},
      {"a set that is too short", {3, 0xA2, 0x20}, {{3, 0xE2, 0x80, tErrShortCommand}}},
      {"an entity class the module lacks", {77, 0x41, 0x20}, {{77, 1, 0x80, tErrInvalidEntity}}},
      {"build number query", {73, 255}, {{73, 255, 1, 2, 3, 4}}},
      {"has the system's serial get", {73, 1, 3, 9, 0, 0x40}, {{73, 1, 3, 9, 0, 0}}},
      {"has no serial set", {73, 1, 3, 9, 0, 0x80}, {{73, 1, 3, 9, 0, tErrInvalidOption}}},
      {"has the save call", {73, 1, 3, 10, 0, 0}, {{73, 1, 3, 10, 0, 0}}},
      {"no loader data UEI yet", {73, 1, 95, 10, 0, 0x80}, {{73, 1, 95, 10, 0, tErrInvalidEntity}}},
      {"one system entity", {73, 4, 3}, {{73, 4, 3, 1}}},
      {"sub-class quantity", {73, 5, 3, 0}, {{73, 5, 3, 0, 0}}},
      {"entity group", {73, 6, 3, 0}, {{73, 6, 3, 0, 0}}},
      {"debug echo", {23, 1, 2, 3}, {{23, 1, 2, 3}}},
      {"raw command it does not know", {9, 1, 2}, {}},
  };
  qnsim::Module m(Config());
  for (const Exchange& c : cases) {
    Frames replies = Ask(m, c.request);
    ASSERT_EQ(replies.size(), c.replies.size()) << c.name;
    for (size_t i = 0; i < replies.size(); i++) {
      EXPECT_EQ(replies[i].address, 2) << c.name;
      EXPECT_EQ(replies[i].payload, c.replies[i]) << c.name;
    }
  }
}

TEST(SimModule, SettingsAreKeptAndReadBack) {
  qnsim::Module m(Config());
  EXPECT_EQ(Ask(m, {3, 0x84, 0x20, 7})[0].payload, (Bytes{3, 0xC4, 0}));
  EXPECT_EQ(Ask(m, {3, 0x44, 0x20})[0].payload, (Bytes{3, 4, 0, 7}));
  EXPECT_EQ(Ask(m, {3, 0xA2, 0x20, 0x00, 0x00, 0xEA, 0x60})[0].payload, (Bytes{3, 0xE2, 0}));
  EXPECT_EQ(Ask(m, {3, 0x62, 0x20})[0].payload, (Bytes{3, 34, 0, 0x00, 0x00, 0xEA, 0x60}));
  Ask(m, {3, 0x83, 0x20, 5});
  EXPECT_EQ(m.HeartbeatInterval(), 5);
}

TEST(SimModule, ByteArraysTravelAsNumberedTrains) {
  qnsim::Module m(Config());
  Frames name = Ask(m, {3, 0x60, 0x20});
  ASSERT_EQ(name.size(), 1u);
  EXPECT_EQ(name[0].payload, (Bytes{3, 32, 0, 'B', 'e', 'n', 'c', 'h', ' ', 'h', 'u', 'b', 0x00}));

  // A 30-byte set comes as 24 bytes with 0x80, then 6 with 0x01, and is
  // acknowledged once.
  Bytes first = {3, 0xA0, 0x20};
  for (int i = 0; i < 24; i++) first.push_back(static_cast<uint8_t>('a' + i % 26));
  first.push_back(0x80);
  EXPECT_TRUE(Ask(m, first).empty());
  Frames ack = Ask(m, {3, 0xA0, 0x20, '1', '2', '3', '4', '5', '6', 0x01});
  ASSERT_EQ(ack.size(), 1u);
  EXPECT_EQ(ack[0].payload, (Bytes{3, 0xE0, 0}));
  Frames back = Ask(m, {3, 0x60, 0x20});
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].payload.size(), 28u);
  EXPECT_EQ(back[0].payload.back(), 0x80);
  EXPECT_EQ(back[1].payload, (Bytes{3, 32, 0, '1', '2', '3', '4', '5', '6', 0x01}));

  // Out of order: refused, nothing stored.
  Frames refused = Ask(m, {3, 0xA0, 0x20, 'x', 0x02});
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].payload, (Bytes{3, 0xE0, 0x80, tErrPacket}));
  // An empty array is one packet with sequence 0; a name longer than 32
  // bytes does not fit.
  EXPECT_EQ(Ask(m, {3, 0xA0, 0x20, 0x00})[0].payload, (Bytes{3, 0xE0, 0}));
  EXPECT_EQ(Ask(m, {3, 0x60, 0x20})[0].payload, (Bytes{3, 32, 0, 0x00}));
  // The power behaviour words must come in fours.
  EXPECT_EQ(Ask(m, {3, 0x9F, 0x20, 1, 2, 3, 0x00})[0].payload, (Bytes{3, 0xDF, 0x80, tErrSize}));
}

TEST(SimModule, I2CTransfersReachTheDevicesOnTheBus) {
  qnsim::Module m(Config());
  m.bus().AddDevice(0xA0);
  // write: 8, index, address, length, speed, data (register 0x10, then 2 bytes)
  EXPECT_EQ(Ask(m, {8, 0, 0xA0, 3, 3, 0x10, 0xAB, 0xCD})[0].payload, (Bytes{8, 0, 0xA0, 0, 0}));
  EXPECT_EQ(Ask(m, {8, 0, 0xA0, 1, 3, 0x10})[0].payload, (Bytes{8, 0, 0xA0, 0, 0}));
  EXPECT_EQ(Ask(m, {8, 0, 0xA1, 2, 3})[0].payload, (Bytes{8, 0, 0xA1, 2, 0, 0xAB, 0xCD}));
  // Nobody at 0x42: NACK, the status a read of 0x86 turns into tErrIO.
  EXPECT_EQ(Ask(m, {8, 0, 0x42, 2, 3, 0, 0})[0].payload, (Bytes{8, 0, 0x42, 0, 0x86}));
  EXPECT_EQ(Ask(m, {8, 0, 1, 1})[0].payload, (Bytes{8, 0, 1, 0, 0}));
  EXPECT_TRUE(m.bus().pullup());
}

TEST(SimModule, ASilentModuleAnswersNothing) {
  qnsim::ModuleConfig c = Config();
  c.silent = true;
  qnsim::Module m(c);
  EXPECT_TRUE(Ask(m, {3, 0x48, 0x20}).empty());
}

class SimEndpoint : public ::testing::Test {
 protected:
  SimEndpoint()
      : router(Config()), behind(BehindConfig()),
        endpoint(&router, {&behind}, [this](const Bytes& b) { sent.push_back(b); }) {}
  static qnsim::ModuleConfig BehindConfig() {
    qnsim::ModuleConfig c = Config();
    c.serial = 0x1234ABCD;
    c.address = 4;
    c.model = 13;
    return c;
  }
  void Host(const Bytes& bytes) { endpoint.FromHost(bytes.data(), bytes.size()); }

  qnsim::Module router, behind;
  std::vector<Bytes> sent;
  qnsim::Endpoint endpoint;
};

TEST_F(SimEndpoint, MagicPacketsAreAnsweredFromTheModulesAddress) {
  Host({0xAD, 0x00, 0xAD, 0x00});
  EXPECT_EQ(sent, (std::vector<Bytes>{{2, 0}, {2, 0}}));
}

TEST_F(SimEndpoint, PacketsSplitAcrossWritesAreAssembled) {
  Host({0x02, 0x03, 3});
  EXPECT_TRUE(sent.empty());
  Host({0x48, 0x20});
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], (Bytes{2, 4, 3, 8, 0, 17}));
}

TEST_F(SimEndpoint, ModulesBehindTheRouterAnswerOnceTheRouteIsOn) {
  Host({0x04, 0x03, 3, 0x48, 0x20});
  EXPECT_TRUE(sent.empty());
  Host({0xAF, 0x01, 0x01});
  EXPECT_TRUE(endpoint.routed());
  Host({0x04, 0x03, 3, 0x48, 0x20});
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], (Bytes{4, 4, 3, 8, 0, 13}));
  Host({0x06, 0x03, 3, 0x48, 0x20});  // nobody at 6
  EXPECT_EQ(sent.size(), 1u);
  Host({0xAF, 0x01, 0x00});
  EXPECT_FALSE(endpoint.routed());
}

TEST_F(SimEndpoint, HeartbeatsGoOutOnRequestAndTheirAnswersAreCounted) {
  endpoint.Tick();
  EXPECT_TRUE(sent.empty());
  Host({0x02, 0x04, 3, 0x83, 0x20, 1});  // a heartbeat every 100 ms
  sent.clear();
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  endpoint.Tick();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], (Bytes{2, 2, 0, 0}));
  Host({0x02, 0x02, 0x00, 0x02});
  EXPECT_EQ(endpoint.heartbeatAnswers(), 1);
  Host({0x02, 0x04, 3, 0x83, 0x20, 0});  // off: one last "down" beat
  sent.clear();
  endpoint.Tick();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], (Bytes{2, 2, 0, 1}));
}

struct SpecCase {
  const char* text;
  bool ok;
};

TEST(SimSpec, ModuleSpecificationsAreChecked) {
  const SpecCase cases[] = {
      {"serial=40F5849A,usb,tcp=0,kernel,serial-line", true},
      {"serial=40F5849A,model=21,address=6,version=2.9.1,build=77,name=Rack", true},
      {"serial=1234ABCD,address=4,router=40F5849A", true},
      {"serial=40F5849A,stall=in,ioerrors=3,busy,inonly,product=8011,unplug=100,replug=200,usb", true},
      {"model=17", false},
      {"serial=40F5849", false},
      {"serial=00000000", false},
      {"serial=40F5849A,address=3", false},
      {"serial=40F5849A,stall=sideways", false},
      {"serial=40F5849A,colour=blue", false},
      {"serial=1234ABCD,router=40F5849A,usb", false},
  };
  for (const SpecCase& c : cases) {
    qnsim::ModuleSpec spec;
    std::string error;
    EXPECT_EQ(qnsim::ParseModuleSpec(c.text, &spec, &error), c.ok) << c.text << ": " << error;
  }
}

}  // namespace
