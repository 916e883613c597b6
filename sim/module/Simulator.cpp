#include "sim/module/Simulator.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <sstream>

#include "sdk/core/tDefs.h"
#include "sdk/core/tVersion.h"

namespace qnsim {

namespace {

bool sNumber(const std::string& text, int base, long max, long* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const long v = strtol(text.c_str(), &end, base);
  if (*end != '\0' || v < 0 || v > max) return false;
  *out = v;
  return true;
}

}  // namespace

bool ParseModuleSpec(const std::string& text, ModuleSpec* spec, std::string* error) {
  *spec = ModuleSpec();
  bool haveSerial = false;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    const std::string key = item.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
    long n = 0;
    auto bad = [&]() {
      if (error) *error = "bad value in \"" + item + "\"";
      return false;
    };
    if (key == "serial") {
      if (value.size() != 8 || !sNumber(value, 16, 0xFFFFFFFFL, &n) || n == 0) return bad();
      spec->config.serial = static_cast<uint32_t>(n);
      haveSerial = true;
    } else if (key == "model") {
      if (!sNumber(value, 0, 255, &n)) return bad();
      spec->config.model = static_cast<uint8_t>(n);
    } else if (key == "address") {
      if (!sNumber(value, 0, 254, &n) || n == 0 || (n & 1)) return bad();
      spec->config.address = static_cast<uint8_t>(n);
    } else if (key == "version") {
      unsigned major = 0, minor = 0, patch = 0;
      if (sscanf(value.c_str(), "%u.%u.%u", &major, &minor, &patch) != 3 || major > 255 || minor > 255 || patch > 255) {
        return bad();
      }
      spec->config.version = tVersion_Pack(static_cast<uint8_t>(major), static_cast<uint8_t>(minor),
                                           static_cast<uint8_t>(patch));
    } else if (key == "build") {
      if (!sNumber(value, 0, 0x7FFFFFFFL, &n)) return bad();
      spec->config.build = static_cast<uint32_t>(n);
    } else if (key == "name") {
      if (value.size() > 32) return bad();
      spec->config.name = value;
    } else if (key == "hwversion") {
      if (!sNumber(value, 0, 0x7FFFFFFFL, &n)) return bad();
      spec->config.hardwareVersion = static_cast<uint32_t>(n);
    } else if (key == "heartbeat") {
      if (!sNumber(value, 0, 255, &n)) return bad();
      spec->config.heartbeatInterval = static_cast<uint8_t>(n);
    } else if (key == "nopooled") {
      spec->config.pooledPackets = false;
    } else if (key == "silent") {
      spec->config.silent = true;
    } else if (key == "router") {
      if (value.size() != 8 || !sNumber(value, 16, 0xFFFFFFFFL, &n) || n == 0) return bad();
      spec->router = static_cast<uint32_t>(n);
    } else if (key == "tcp") {
      spec->tcp = true;
      if (!value.empty()) {
        if (!sNumber(value, 10, 65535, &n)) return bad();
        spec->tcpPort = static_cast<uint16_t>(n);
      }
    } else if (key == "serial-line") {
      spec->serialLine = true;
    } else if (key == "usb") {
      spec->usb = true;
    } else if (key == "kernel") {
      spec->kernel = true;
    } else if (key == "product") {
      if (!sNumber(value, 16, 0xFFFF, &n)) return bad();
      spec->productId = static_cast<int>(n);
    } else if (key == "inonly") {
      spec->inOnly = true;
    } else if (key == "busy") {
      spec->busy = true;
    } else if (key == "stall") {
      if (value != "in" && value != "out" && value != "both") return bad();
      spec->stallIn = value != "out";
      spec->stallOut = value != "in";
    } else if (key == "ioerrors") {
      if (!sNumber(value, 10, 100000, &n)) return bad();
      spec->ioErrors = static_cast<int>(n);
    } else if (key == "unplug") {
      if (!sNumber(value, 10, 86400000, &n)) return bad();
      spec->unplugMs = static_cast<int>(n);
    } else if (key == "replug") {
      if (!sNumber(value, 10, 86400000, &n)) return bad();
      spec->replugMs = static_cast<int>(n);
    } else {
      if (error) *error = "unknown key \"" + key + "\"";
      return false;
    }
  }
  if (!haveSerial) {
    if (error) *error = "a module needs serial=HEX";
    return false;
  }
  if (spec->router != 0 && (spec->tcp || spec->serialLine || spec->usb || spec->kernel)) {
    if (error) *error = "a module behind a router has no transport of its own";
    return false;
  }
  return true;
}

Simulator::Simulator(std::string bindAddress) : bind_(std::move(bindAddress)) {}

Simulator::~Simulator() { Stop(); }

Simulator::Entry* Simulator::Find(uint32_t serial) {
  for (auto& e : entries_) {
    if (e->module->serial() == serial) return e.get();
  }
  return nullptr;
}

bool Simulator::PlugUsb(Entry& e, bool withFaults, std::string* error) {
  UsbIdentity id;
  id.serial = e.module->serialText();
  id.productId = static_cast<uint16_t>(e.spec.productId >= 0 ? e.spec.productId : e.module->model());
  id.product = tDefs_GetModelName(e.module->model());
  id.hasOutEndpoint = !e.spec.inOnly;
  e.device = bus_->Plug(id, e.usbLink.get(), error);
  if (e.device == nullptr) return false;
  UsbfsDevice* d = e.device;
  e.usbLink->Connect([d](const uint8_t* p, size_t n) { d->ToHost(p, n); });
  if (!withFaults) return true;  // a re-plugged device comes back healthy
  if (e.spec.busy) d->SetBusy(true);
  if (e.spec.stallIn) d->Stall(kUsbInEndpoint);
  if (e.spec.stallOut) d->Stall(kUsbOutEndpoint);
  if (e.spec.ioErrors > 0) d->FailNextTransfers(e.spec.ioErrors);
  return true;
}

bool Simulator::Start(const std::vector<ModuleSpec>& specs, const std::function<void(const std::string&)>& report,
                      std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const ModuleSpec& s : specs) {
    if (Find(s.config.serial) != nullptr) {
      if (error) *error = "two modules with serial number " + Module(s.config).serialText();
      return false;
    }
    auto e = std::make_unique<Entry>();
    e->spec = s;
    e->module = std::make_unique<Module>(s.config);
    entries_.push_back(std::move(e));
  }
  // Modules behind a router sit on its I2C bus at their address.
  for (auto& e : entries_) {
    if (e->spec.router == 0) continue;
    Entry* router = Find(e->spec.router);
    if (router == nullptr || router->spec.router != 0) {
      if (error) *error = "module " + e->module->serialText() + ": no router with that serial number";
      return false;
    }
    router->behind.push_back(e->module.get());
    router->module->bus().AddDevice(e->module->address());
  }
  for (auto& ep : entries_) {
    Entry& e = *ep;
    const std::string serial = e.module->serialText();
    if (e.spec.tcp) {
      e.tcp = std::make_unique<TcpTransport>(e.module.get(), e.behind);
      if (!e.tcp->Start(bind_, e.spec.tcpPort, error)) return false;
      report(serial + " tcp " + bind_ + " " + std::to_string(e.tcp->port()));
    }
    if (e.spec.serialLine) {
      e.pty = std::make_unique<PtyTransport>(e.module.get(), e.behind);
      if (!e.pty->Start(error)) return false;
      report(serial + " serial-line " + e.pty->path());
    }
    if ((e.spec.usb || e.spec.kernel) && !bus_) bus_ = std::make_unique<VirtualUsbBus>();
    if (e.spec.usb) {
      e.usbLink = std::make_unique<UsbLink>(e.module.get(), e.behind);
      if (!PlugUsb(e, true, error)) return false;
      report(serial + " usb " + e.device->devnode().substr(strlen("/dev/bus/usb/")));
    }
    if (e.spec.kernel) {
      e.kernelLink = std::make_unique<UsbLink>(e.module.get(), e.behind);
      KernelNode* node = bus_->AddKernelNode(serial, e.kernelLink.get(), error);
      if (node == nullptr) return false;
      e.kernelLink->Connect([node](const uint8_t* p, size_t n) { node->ToHost(p, n); });
      report(serial + " kernel " + node->devnode());
    }
  }
  running_ = true;
  ticker_ = std::thread(&Simulator::Run, this);
  return true;
}

void Simulator::Stop() {
  if (running_.exchange(false)) ticker_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& e : entries_) {
    if (e->tcp) e->tcp->Stop();
    if (e->pty) e->pty->Stop();
  }
  bus_.reset();
  entries_.clear();
}

void Simulator::Run() {
  const auto start = std::chrono::steady_clock::now();
  while (running_) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const long ms = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    std::vector<uint32_t> unplug, replug;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (auto& e : entries_) {
        if (e->tcp) e->tcp->Tick();
        if (e->pty) e->pty->Tick();
        if (e->usbLink) e->usbLink->Tick();
        if (e->kernelLink) e->kernelLink->Tick();
        if (e->spec.unplugMs >= 0 && ms >= e->spec.unplugMs) {
          unplug.push_back(e->module->serial());
          e->spec.unplugMs = -1;
          if (e->spec.replugMs >= 0) e->spec.replugMs += static_cast<int>(ms);
        } else if (e->spec.unplugMs < 0 && e->spec.replugMs >= 0 && ms >= e->spec.replugMs &&
                   e->device == nullptr) {
          replug.push_back(e->module->serial());
          e->spec.replugMs = -1;
        }
      }
    }
    for (uint32_t s : unplug) Unplug(s);
    for (uint32_t s : replug) Replug(s);
  }
}

Module* Simulator::FindModule(uint32_t serial) {
  std::lock_guard<std::mutex> lock(mutex_);
  Entry* e = Find(serial);
  return e ? e->module.get() : nullptr;
}

uint16_t Simulator::TcpPort(uint32_t serial) {
  std::lock_guard<std::mutex> lock(mutex_);
  Entry* e = Find(serial);
  return e && e->tcp ? e->tcp->port() : 0;
}

std::string Simulator::SerialLinePath(uint32_t serial) {
  std::lock_guard<std::mutex> lock(mutex_);
  Entry* e = Find(serial);
  return e && e->pty ? e->pty->path() : "";
}

UsbfsDevice* Simulator::UsbDevice(uint32_t serial) {
  std::lock_guard<std::mutex> lock(mutex_);
  Entry* e = Find(serial);
  return e ? e->device : nullptr;
}

bool Simulator::Unplug(uint32_t serial) {
  std::lock_guard<std::mutex> lock(mutex_);
  Entry* e = Find(serial);
  if (e == nullptr || e->device == nullptr) return false;
  bus_->Unplug(e->device);
  e->device = nullptr;
  return true;
}

bool Simulator::Replug(uint32_t serial) {
  std::lock_guard<std::mutex> lock(mutex_);
  Entry* e = Find(serial);
  if (e == nullptr || !e->usbLink || e->device != nullptr) return false;
  std::string error;
  return PlugUsb(*e, false, &error);
}

}  // namespace qnsim
