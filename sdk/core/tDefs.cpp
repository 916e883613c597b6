#include "sdk/core/tDefs.h"

namespace {

struct sModel {
  uint32_t code;
  const char* name;
};

const sModel sModels[] = {
    {4, "PortCore"},      {5, "NetCore"},         {13, "RackSerialIO"},
    {14, "RackPower1"},   {15, "RackNetCore"},    {16, "RackPortCore"},
    {17, "HubQuad2"},     {18, "RackSwitchR"},    {19, "HubTriP"},
    {20, "RackAcq1"},     {21, "TypeCRouter"},    {22, "RackAcq2"},
    {23, "RackLoad1"},    {24, "HubTriC"},        {25, "TypeCRouterPro"},
    {26, "PowerDelv3"},   {27, "LinkExtC"},
};

}  // namespace

const char* tDefs_GetModelName(uint32_t code) {
  for (const sModel& m : sModels)
    if (m.code == code) return m.name;
  return "Unknown";
}
