// Writes the seed streams of fuzz_record into the folder given: what a
// VISA client sends to the portmapper and the VXI-11 channels, and record
// marking at its edges.  Made with the project's own XDR writer:
//   fuzz_record_seeds fuzz/corpus/record
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <string>
#include <string_view>

#include "net/Xdr.h"

namespace {

namespace rpc = net::rpc;

std::string g_folder;
int g_written = 0;

void Save(const std::string& name, const std::string& bytes) {
  const std::string path = g_folder + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
  ++g_written;
}

std::uint32_t g_xid = 0x1000;

rpc::Writer Call(std::uint32_t prog, std::uint32_t vers, std::uint32_t proc) {
  rpc::Writer w;
  w.Call(++g_xid, prog, vers, proc);
  return w;
}
std::string Rec(const rpc::Writer& w) { return rpc::Record(w.Bytes()); }

std::string GetPort(std::uint32_t prog, std::uint32_t protocol = 6) {
  return Rec(Call(rpc::kPortmapper, rpc::kPortmapperVersion, rpc::kGetPort).U32(prog).U32(rpc::kVxiVersion).U32(protocol).U32(0));
}

std::string CreateLink(std::string_view device = "inst0") {
  return Rec(Call(rpc::kDeviceCore, rpc::kVxiVersion, rpc::kCreateLink).I32(4242).U32(0).U32(0).Opaque(device));
}
std::string DeviceWrite(std::string_view data, bool end = true, std::int32_t lid = 1) {
  return Rec(Call(rpc::kDeviceCore, rpc::kVxiVersion, rpc::kDeviceWrite)
                 .I32(lid).U32(1000).U32(0).I32(end ? rpc::kFlagEnd : 0).Opaque(data));
}
std::string DeviceRead(std::uint32_t size = 1 << 20, bool termChar = true, std::uint32_t ioTimeout = 0, std::int32_t lid = 1) {
  return Rec(Call(rpc::kDeviceCore, rpc::kVxiVersion, rpc::kDeviceRead)
                 .I32(lid).U32(size).U32(ioTimeout).U32(0).I32(termChar ? rpc::kFlagTermChar : 0).U32('\n'));
}
std::string Generic(std::uint32_t proc, std::int32_t lid = 1) {
  return Rec(Call(rpc::kDeviceCore, rpc::kVxiVersion, proc).I32(lid).I32(0).U32(1000).U32(1000));
}
std::string DestroyLink(std::int32_t lid = 1) { return Rec(Call(rpc::kDeviceCore, rpc::kVxiVersion, rpc::kDestroyLink).I32(lid)); }
std::string Abort(std::int32_t lid = 1) { return Rec(Call(rpc::kDeviceAsync, rpc::kVxiVersion, rpc::kDeviceAbort).I32(lid)); }

std::string Marker(std::uint32_t m) {
  rpc::Writer w;
  w.U32(m);
  return w.Bytes();
}

// The payload of a record sent as fragments of the given sizes (the last takes the rest).
std::string Fragmented(const std::string& record, std::initializer_list<std::size_t> sizes) {
  const std::string payload = record.substr(4);
  std::string out;
  std::size_t at = 0;
  for (std::size_t n : sizes) {
    n = std::min(n, payload.size() - at);
    out += Marker(static_cast<std::uint32_t>(n)) + payload.substr(at, n);
    at += n;
  }
  return out + Marker(0x80000000u | static_cast<std::uint32_t>(payload.size() - at)) + payload.substr(at);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  g_folder = argv[1];

  // The portmapper.
  Save("pmap-getport-core", GetPort(rpc::kDeviceCore));
  Save("pmap-getport-abort", GetPort(rpc::kDeviceAsync));
  Save("pmap-getport-udp", GetPort(rpc::kDeviceCore, 17));
  Save("pmap-null", Rec(Call(rpc::kPortmapper, rpc::kPortmapperVersion, 0)));
  Save("pmap-dump", Rec(Call(rpc::kPortmapper, rpc::kPortmapperVersion, 4)));
  Save("pmap-other-program", Rec(Call(100003, 3, 0)));
  {
    // A call with AUTH_UNIX credentials, as rpcinfo sends it.
    rpc::Writer w;
    w.U32(++g_xid).U32(0).U32(2).U32(rpc::kPortmapper).U32(rpc::kPortmapperVersion).U32(rpc::kGetPort);
    rpc::Writer cred;
    cred.U32(12345).Opaque("benchhost").U32(0).U32(0).U32(1).U32(0);
    w.U32(1).Opaque(cred.Bytes()).U32(0).U32(0);
    w.U32(rpc::kDeviceCore).U32(rpc::kVxiVersion).U32(6).U32(0);
    Save("pmap-getport-authunix", Rec(w));
  }

  // VXI-11 core channel sessions as the driver's transport runs them.
  Save("vxi11-idn", CreateLink() + DeviceWrite("*IDN?\n") + DeviceRead() + DestroyLink());
  Save("vxi11-settings",
       CreateLink() + DeviceWrite(":SENS1:FREQ 2400000000;:SENS1:CORR:ATT 10\n") + DeviceWrite(":SENS1:FREQ?\n") +
           DeviceRead(16, false) + DeviceRead(1024) + Generic(rpc::kDeviceReadStb) + DestroyLink());
  Save("vxi11-measure",
       CreateLink() + DeviceWrite(":SENS1:SAMP:COUNT 1000;:SENS1:MEAS SUM;:SENS2:MEAS SUM\n") +
           DeviceWrite("*CLS;:INIT:IMM;*OPC\n") + DeviceWrite("*ESR?\n") + DeviceRead() +
           DeviceWrite(":SUMP:BURS:INIT\n") + DeviceWrite(":SUMP:BURS:COUN?;:SUMP:BURS:LEV?\n") + DeviceRead() +
           DeviceRead() + DeviceWrite(":SENS1:TRAC:DATA?\n") + DeviceRead(100, false) + DeviceRead() +
           DeviceWrite(":SYSTEM:ERR:ALL?\n") + DeviceRead() + DestroyLink());
  Save("vxi11-write-in-pieces",
       CreateLink() + DeviceWrite(":SENS1:", false) + DeviceWrite("FREQ?", false) + DeviceWrite("\n") + DeviceRead());
  Save("vxi11-firmware",
       CreateLink() + DeviceWrite("SYSTEM:FWUPDATE #18", false) + DeviceWrite("abc\ndef", false) + DeviceWrite("g\n") +
           DeviceWrite("*IDN?\n") + DeviceRead());
  Save("vxi11-clear-and-misc",
       CreateLink() + DeviceWrite("*IDN?\n") + Generic(rpc::kDeviceClear) + DeviceRead() + Generic(14) + Generic(16) +
           Generic(17) + Generic(18) + Generic(19) + Generic(99) + DestroyLink() + DeviceRead());
  Save("vxi11-bad-link", DeviceWrite("*IDN?\n", true, 7) + DeviceRead(1024, true, 0, 7) + CreateLink() +
                             DeviceWrite("*IDN?\n", true, 2) + DestroyLink(9));
  Save("vxi11-two-links", CreateLink("inst0") + CreateLink("inst1") + DeviceWrite("*IDN?\n", true, 2) +
                              DeviceRead(1024, true, 0, 2) + DestroyLink(1) + DeviceRead(1024, true, 0, 2));
  {
    std::string many;  // one link more than a connection may hold
    for (std::size_t i = 0; i <= 16; ++i) many += CreateLink();
    Save("vxi11-too-many-links", many + DeviceWrite("*IDN?\n", true, 16) + DeviceRead(1024, true, 0, 16));
  }
  Save("vxi11-empty-read", CreateLink() + DeviceRead(1024, true, 0) + DeviceRead(0, false, 0));
  Save("vxi11-wrong-version", Rec(Call(rpc::kDeviceCore, 2, rpc::kCreateLink)) + CreateLink());
  Save("vxi11-wrong-program", Rec(Call(100003, 3, 1)) + CreateLink());
  Save("vxi11-long-device", CreateLink(std::string(300, 'x')));
  Save("vxi11-short-call", Rec(Call(rpc::kDeviceCore, rpc::kVxiVersion, rpc::kDeviceWrite).I32(1)));
  {
    rpc::Writer reply;  // a reply where a call belongs: the server closes
    reply.Reply(7).I32(0);
    Save("vxi11-reply-not-call", Rec(reply));
  }
  // The abort channel, then a read of the aborted link on the core channel.
  Save("vxi11-abort", Abort(1) + Abort(2) + CreateLink() + DeviceWrite("*IDN?\n") + DeviceRead() + DeviceRead());
  Save("vxi11-abort-wrong-proc", Rec(Call(rpc::kDeviceAsync, rpc::kVxiVersion, 2).I32(1)) + Abort(1));

  // Record marking at its edges.
  const std::string idn = DeviceWrite("*IDN?\n");
  Save("rm-fragments", CreateLink() + Fragmented(idn, {4, 0, 13, 1}) + DeviceRead());
  Save("rm-zero-length-fragments", Marker(0) + Marker(0) + CreateLink() + Marker(0x80000000u));
  Save("rm-empty-record", Marker(0x80000000u) + CreateLink());
  Save("rm-huge-length", CreateLink() + Marker(0xffffffffu) + "abcd");
  Save("rm-huge-length-not-last", Marker(0x7fffffffu) + "abcd");
  Save("rm-at-the-limit", Marker(0x80000000u | static_cast<std::uint32_t>(rpc::kMaxRecord)) + "abcd");
  Save("rm-over-the-limit", Marker(0x80000000u | static_cast<std::uint32_t>(rpc::kMaxRecord + 1)) + "abcd");
  Save("rm-limit-over-fragments", Marker(static_cast<std::uint32_t>(rpc::kMaxRecord / 2)) +
                                      Marker(0x80000000u | static_cast<std::uint32_t>(rpc::kMaxRecord / 2 + 1)));
  Save("rm-truncated-marker", CreateLink() + std::string("\x80\x00", 2));
  Save("rm-truncated-fragment", CreateLink() + idn.substr(0, idn.size() - 3));
  {
    // An opaque whose length runs past the record.
    rpc::Writer w = Call(rpc::kDeviceCore, rpc::kVxiVersion, rpc::kDeviceWrite);
    w.I32(1).U32(0).U32(0).I32(rpc::kFlagEnd).U32(0xfffffff0u).U32(0);
    Save("xdr-opaque-too-long", CreateLink() + Rec(w));
    rpc::Writer c;  // credentials longer than the server reads
    c.U32(++g_xid).U32(0).U32(2).U32(rpc::kPortmapper).U32(2).U32(rpc::kGetPort).U32(1).Opaque(std::string(404, 'c'));
    c.U32(0).U32(0);
    Save("xdr-credential-too-long", Rec(c));
  }
  std::printf("%d seeds in %s\n", g_written, g_folder.c_str());
  return 0;
}
