// usb-probe: a small libusb client for the virtual USB bus tests. It opens
// the module with the given serial number and runs the steps it is given,
// printing one line per step: "<step> <libusb result> [details]".
//   claim | release | clearhalt:EP | write:HEX | read:LENGTH:TIMEOUT_MS
//   hold:MS (sleeps, interface kept)
#include <libusb.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/CpuTime.h"

static double sNow() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: usb-probe SERIAL [steps...]\n");
    return 2;
  }
  libusb_context* ctx = nullptr;
  if (libusb_init(&ctx) != 0) return 1;
  libusb_device** list = nullptr;
  ssize_t n = libusb_get_device_list(ctx, &list);
  libusb_device_handle* h = nullptr;
  for (ssize_t i = 0; i < n && !h; ++i) {
    struct libusb_device_descriptor d;
    if (libusb_get_device_descriptor(list[i], &d) != 0 || d.idVendor != 0x24FF) continue;
    libusb_device_handle* candidate = nullptr;
    if (libusb_open(list[i], &candidate) != 0) continue;
    unsigned char text[256] = {0};
    int r = libusb_get_string_descriptor_ascii(candidate, d.iSerialNumber, text, sizeof text - 1);
    if (r > 0 && strcmp(reinterpret_cast<char*>(text), argv[1]) == 0) {
      h = candidate;
    } else {
      libusb_close(candidate);
    }
  }
  libusb_free_device_list(list, 1);
  printf("open %d\n", h ? 0 : LIBUSB_ERROR_NOT_FOUND);
  if (!h) return 1;
  for (int i = 2; i < argc; ++i) {
    std::string step = argv[i];
    int r = 0;
    if (step == "claim") {
      r = libusb_claim_interface(h, 0);
      printf("claim %d\n", r);
    } else if (step == "release") {
      r = libusb_release_interface(h, 0);
      printf("release %d\n", r);
    } else if (step.rfind("clearhalt:", 0) == 0) {
      r = libusb_clear_halt(h, static_cast<unsigned char>(strtoul(step.c_str() + 10, nullptr, 0)));
      printf("clearhalt %d\n", r);
    } else if (step.rfind("write:", 0) == 0) {
      std::vector<unsigned char> bytes;
      for (size_t k = 6; k + 1 < step.size(); k += 2) bytes.push_back(strtoul(step.substr(k, 2).c_str(), nullptr, 16));
      int sent = 0;
      r = libusb_bulk_transfer(h, 0x02, bytes.data(), static_cast<int>(bytes.size()), &sent, 50);
      printf("write %d %d\n", r, sent);
    } else if (step.rfind("read:", 0) == 0) {
      int length = atoi(step.c_str() + 5);
      const char* t = strchr(step.c_str() + 5, ':');
      int timeout = t ? atoi(t + 1) : 1000;
      std::vector<unsigned char> buffer(length);
      int got = 0;
      double c0 = qntest::CpuSeconds(), t0 = sNow();
      r = libusb_bulk_transfer(h, 0x81, buffer.data(), length, &got, timeout);
      double elapsed = sNow() - t0, cpu = qntest::CpuSeconds() - c0;
      printf("read %d %d ", r, got);
      for (int k = 0; k < got; ++k) printf("%02X", buffer[k]);
      printf(" elapsed=%.3f cpu=%.4f\n", elapsed, cpu);
    } else if (step.rfind("hold:", 0) == 0) {
      usleep(atoi(step.c_str() + 5) * 1000);
      printf("hold 0\n");
    } else {
      printf("%s unknown\n", step.c_str());
    }
    fflush(stdout);
  }
  libusb_close(h);
  libusb_exit(ctx);
  return 0;
}
