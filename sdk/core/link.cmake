# Packet FIFOs, the USB transport, the link engine with its reader and writer
# threads, the packet log and logger. The C-level UEI helpers of sdk/api join
# the core too: the broker below the object layer uses them.
pkg_check_modules(QN_LIBUSB REQUIRED IMPORTED_TARGET GLOBAL libusb-1.0)

qn_add_sources(qn_core
  tPacketFifo.cpp
  tUSBContext.cpp
  tUSBLib.cpp
  tUSBKernel.cpp
  tUSBStream.cpp
  tPacketLog.cpp
  tLogger.cpp
  tLink.cpp
  tLinkThreads.cpp
  tLinkPacketDebug.cpp
  ../api/tUEI.cpp
)
qn_add_links(qn_core PkgConfig::QN_LIBUSB)
