#include "cameraFileWriter.h"

namespace testjpeg {

namespace {

bytes u16(uint16_t v, bool big) { return big ? be16(v) : bytes{uint8_t(v), uint8_t(v >> 8)}; }
bytes u32(uint32_t v, bool big) { return big ? be32(v) : le32(v); }

bytes padded(const std::string& text, size_t n) {
  bytes b = toBytes(text);
  b.resize(n, 0);
  return b;
}

const unsigned char canonUuid[16] = {0x85, 0xc0, 0xb6, 0x87, 0x82, 0x0f, 0x11, 0xe0,
                                     0x81, 0x11, 0xf4, 0xce, 0x46, 0x2b, 0x6a, 0x48};

}  // namespace

bytes movieHeader(uint8_t version, uint64_t created) {
  const bytes times = version == 1 ? join({be64(created), be64(created), be32(600), be64(600)})
                                   : join({be32(uint32_t(created)), be32(uint32_t(created)), be32(600), be32(600)});
  // rate 1.0, volume 1.0, reserved, the identity matrix, pre-defined, next track ID.
  bytes matrix = join({be32(0x10000), be32(0), be32(0), be32(0), be32(0x10000), be32(0), be32(0), be32(0),
                       be32(0x40000000)});
  return isoFullBox("mvhd", version, join({times, be32(0x10000), be16(0x100), bytes(10, 0), matrix,
                                           bytes(24, 0), be32(2)}));
}

bytes keysMeta(const std::string& key, const std::string& value, bool isoMeta) {
  const bytes hdlr = isoFullBox("hdlr", 0, join({be32(0), toBytes("mdta"), bytes(12, 0), {0}}));
  const bytes keys = isoFullBox("keys", 0, join({be32(1), be32(uint32_t(8 + key.size())), toBytes("mdta"),
                                                 toBytes(key)}));
  const bytes data = isoBox("data", join({be32(1), be32(0), toBytes(value)}));
  const bytes item = join({be32(uint32_t(8 + data.size())), be32(1), data});
  const bytes children = join({hdlr, keys, isoBox("ilst", item)});
  return isoMeta ? isoFullBox("meta", 0, children) : isoBox("meta", children);
}

bytes movieFile(const movieLayout& l) {
  const bytes trak = isoBox("trak", isoFullBox("tkhd", 0, bytes(80, 0)));
  bytes moovChildren = join({movieHeader(l.mvhdVersion, l.created), trak});
  if (!l.keysDate.empty())
    moovChildren = join({moovChildren, keysMeta("com.apple.quicktime.creationdate", l.keysDate, l.isoMeta)});
  const bytes moov = isoBox("moov", moovChildren);
  const bytes media(l.mdatBytes, 0x6D);
  const bytes mdat = l.largeMdat ? join({be32(1), toBytes("mdat"), be64(media.size() + 16), media})
                                 : isoBox("mdat", media);
  const bytes ftyp = l.brand.empty() ? bytes{}
                                     : isoBox("ftyp", join({toBytes(l.brand), be32(0x200), toBytes(l.brand)}));
  return l.moovFirst ? join({ftyp, moov, mdat}) : join({ftyp, mdat, moov});
}

bytes canonUuidBox(const bytes& children) {
  return isoBox("uuid", join({bytes(canonUuid, canonUuid + 16), children}));
}

bytes cmt2(const std::string& dateTimeOriginal, const std::string& offset, bool bigEndian) {
  tiffWriter t(bigEndian);
  t.ascii(dir::ifd0, 0x9003, dateTimeOriginal);
  if (!offset.empty()) t.ascii(dir::ifd0, 0x9011, offset);
  return t.build();
}

bytes cr3File(const bytes& cmt1, const bytes& cmt2Bytes, const bytes& cmt3, const bytes& cmt4) {
  const bytes ftyp = isoBox("ftyp", join({toBytes("crx "), be32(1), toBytes("crx isom")}));
  bytes children = isoBox("CNCV", toBytes("CanonCR3_001/00.09.00/00.00.00"));
  children = join({children, isoBox("CMT1", cmt1), isoBox("CMT2", cmt2Bytes)});
  if (!cmt3.empty()) children = join({children, isoBox("CMT3", cmt3)});
  if (!cmt4.empty()) children = join({children, isoBox("CMT4", cmt4)});
  const bytes moov = isoBox("moov", join({canonUuidBox(children), movieHeader(0, 0),
                                          isoBox("trak", isoFullBox("tkhd", 0, bytes(80, 0)))}));
  return join({ftyp, moov, isoBox("mdat", bytes(200, 0x43))});
}

bytes rafFile(const bytes& jpeg) {
  constexpr uint32_t jpegAt = 160;
  const bytes raw(256, 0x52);
  const uint32_t rawAt = uint32_t(jpegAt + jpeg.size());
  bytes header = join({toBytes("FUJIFILMCCD-RAW 0201FF383501"), padded("X-T1", 32), toBytes("0100"),
                       bytes(20, 0), be32(jpegAt), be32(uint32_t(jpeg.size())), be32(rawAt), be32(16),
                       be32(rawAt + 16), be32(uint32_t(raw.size() - 16))});
  header.resize(jpegAt, 0);
  return join({header, jpeg, raw});
}

bytes mrwBlock(const std::string& name, const bytes& data) {
  return join({{0}, toBytes(name), be32(uint32_t(data.size())), data});
}

bytes mrwFile(const bytes& tiff) {
  const bytes prd = join({toBytes("21810002"), be16(1544), be16(2056), be16(1544), be16(2056), {12, 12, 0x52, 0},
                          be16(0), be16(1)});
  const bytes blocks = join({mrwBlock("PRD", prd), mrwBlock("TTW", tiff),
                             mrwBlock("WBG", {0, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 0}),
                             mrwBlock("RIF", bytes(20, 0))});
  return join({toBytes(std::string("\0MRM", 4)), be32(uint32_t(blocks.size())), blocks, bytes(128, 0x4D)});
}

bytes ciffHeap(const std::vector<ciffRecord>& records, bool big, size_t leading) {
  bytes heap(leading, 0x57);
  bytes table = u16(uint16_t(records.size()), big);
  for (const ciffRecord& r : records) {
    table = join({table, u16(r.tag, big), u32(uint32_t(r.data.size()), big), u32(uint32_t(heap.size()), big)});
    heap = join({heap, r.data});
  }
  const uint32_t tableAt = uint32_t(heap.size());
  return join({heap, table, u32(tableAt, big)});
}

bytes crwFile(const crwLayout& l) {
  const bool big = l.bigEndian;
  std::vector<ciffRecord> props = {{0x0810, padded("Canon PowerShot", 32)}};
  if (l.hasTime) props.push_back({0x180e, join({u32(l.time, big), u32(0, big), u32(0, big)})});
  const bytes imageProps = ciffHeap(props, big);
  const bytes heap = ciffHeap({{0x300a, imageProps}}, big, l.imageBytes);
  const bytes header = join({toBytes(big ? "MM" : "II"), u32(26, big), toBytes("HEAPCCDR"), u32(0x00010002, big),
                             bytes(8, 0)});
  return join({header, heap});
}

}  // namespace testjpeg
