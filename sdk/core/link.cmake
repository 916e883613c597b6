# Packet FIFOs, the USB transport, the link engine with its reader and writer
# threads, the packet log and logger. The C-level UEI helpers of sdk/api join
# the core too: the broker below the object layer uses them.
qn_add_sources(qn_core
  tPacketFifo.cpp
  ../api/tUEI.cpp
)
