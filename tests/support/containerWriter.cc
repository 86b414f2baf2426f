#include "containerWriter.h"

#include <fstream>

namespace testjpeg {

bytes be16(uint16_t v) { return {uint8_t(v >> 8), uint8_t(v)}; }
bytes be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }
bytes be64(uint64_t v) { return join({be32(uint32_t(v >> 32)), be32(uint32_t(v))}); }
bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

bytes join(std::initializer_list<bytes> parts) {
  bytes out;
  for (const bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

void saveBytes(const std::string& path, const bytes& b) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

bytes isoBox(const std::string& type, const bytes& payload) {
  return join({be32(uint32_t(payload.size() + 8)), toBytes(type), payload});
}

bytes isoFullBox(const std::string& type, uint8_t version, const bytes& payload) {
  return isoBox(type, join({{version, 0, 0, 0}, payload}));
}

bytes ftypHeic() { return isoBox("ftyp", join({toBytes("heic"), be32(0), toBytes("mif1heic")})); }

bytes infe(uint8_t version, uint32_t id, const std::string& type) {
  const bytes idField = version == 2 ? be16(uint16_t(id)) : be32(id);
  return isoFullBox("infe", version, join({idField, be16(0), toBytes(type), {0}}));
}

namespace {

// The meta box of heifFile, its item data at the given offsets (file
// offsets, or offsets in idat).
bytes heifMeta(const heifLayout& l, const std::vector<uint64_t>& at, const std::vector<size_t>& len,
               const bytes& idat) {
  const bool v2 = l.ilocVersion == 2;
  bytes iinf = isoFullBox("iinf", 0, join({be16(2), infe(l.infeVersion, 1, "hvc1"),
                                           infe(l.infeVersion, 2, "Exif")}));
  // offset and length 4 bytes, no base offset, no index.
  bytes items = join({{0x44, 0}, v2 ? be32(2) : be16(2)});
  auto itemEntry = [&](uint32_t id, uint16_t method, const std::vector<uint64_t>& offs,
                       const std::vector<size_t>& lens) {
    bytes e = v2 ? be32(id) : be16(uint16_t(id));
    if (l.ilocVersion > 0) e = join({e, be16(method)});
    e = join({e, be16(0), be16(uint16_t(offs.size()))});
    for (size_t i = 0; i < offs.size(); ++i) e = join({e, be32(uint32_t(offs[i])), be32(uint32_t(lens[i]))});
    return e;
  };
  items = join({items, itemEntry(1, 0, {at.empty() ? 0 : at[0]}, {1}),
                itemEntry(2, l.inIdat ? 1 : 0, at, len)});
  bytes children = join({isoFullBox("hdlr", 0, join({be32(0), toBytes("pict"), bytes(13, 0)})),
                         isoFullBox("pitm", 0, be16(1)), iinf, isoFullBox("iloc", l.ilocVersion, items)});
  if (l.inIdat) children = join({children, isoBox("idat", idat)});
  return isoFullBox("meta", 0, children);
}

}  // namespace

bytes heifFile(const bytes& tiff, const heifLayout& l) {
  const bytes data = join({be32(6), toBytes(std::string("Exif\0\0", 6)), tiff});
  // The item's parts, stored last part first so that they do not follow
  // one another.
  const unsigned n = l.extents ? l.extents : 1;
  std::vector<bytes> parts;
  for (unsigned i = 0; i < n; ++i) {
    const size_t from = data.size() * i / n, to = data.size() * (i + 1) / n;
    parts.emplace_back(data.begin() + long(from), data.begin() + long(to));
  }
  bytes stored(l.imageBytes, 0x5A);
  std::vector<uint64_t> at(n);
  std::vector<size_t> len(n);
  for (unsigned i = n; i-- > 0;) {
    at[i] = stored.size();
    len[i] = parts[i].size();
    stored = join({stored, parts[i]});
  }
  const bytes ftyp = ftypHeic();
  if (l.inIdat) {
    const bytes meta = heifMeta(l, at, len, stored);
    return join({ftyp, meta, isoBox("mdat", bytes(l.imageBytes, 0x5A))});
  }
  const size_t metaSize = heifMeta(l, at, len, {}).size();
  const size_t mdatData = ftyp.size() + (l.mdatFirst ? 0 : metaSize) + (l.largeMdat ? 16 : 8);
  for (auto& a : at) a += mdatData;
  const bytes meta = heifMeta(l, at, len, {});
  const bytes mdat = l.largeMdat ? join({be32(1), toBytes("mdat"), be64(stored.size() + 16), stored})
                                 : isoBox("mdat", stored);
  return l.mdatFirst ? join({ftyp, mdat, meta}) : join({ftyp, meta, mdat});
}

bytes pngSignature() { return {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}; }

uint32_t crc32(const bytes& b, size_t from) {
  uint32_t c = 0xFFFFFFFF;
  for (size_t i = from; i < b.size(); ++i) {
    c ^= b[i];
    for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320 ^ (c >> 1) : c >> 1;
  }
  return ~c;
}

bytes pngChunk(const std::string& type, const bytes& data) {
  const bytes chunk = join({be32(uint32_t(data.size())), toBytes(type), data});
  return join({chunk, be32(crc32(chunk, 4))});
}

bytes pngFile(const bytes& tiff, bool exifAfterImage) {
  const bytes ihdr = pngChunk("IHDR", join({be32(1), be32(1), {8, 0, 0, 0, 0}}));
  const bytes idat = pngChunk("IDAT", {0x78, 0x9C, 0x63, 0x60, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01});
  const bytes exif = pngChunk("eXIf", tiff);
  return exifAfterImage ? join({pngSignature(), ihdr, idat, exif, pngChunk("IEND", {})})
                        : join({pngSignature(), ihdr, exif, idat, pngChunk("IEND", {})});
}

bytes riffChunk(const std::string& type, const bytes& data) {
  bytes c = join({toBytes(type), le32(uint32_t(data.size())), data});
  if (data.size() & 1) c.push_back(0);
  return c;
}

bytes webpFile(const std::vector<bytes>& chunks) {
  bytes body = toBytes("WEBP");
  for (const bytes& c : chunks) body = join({body, c});
  return join({toBytes("RIFF"), le32(uint32_t(body.size())), body});
}

bytes webpWithExif(const bytes& tiff) {
  const bytes vp8x = riffChunk("VP8X", {0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  return webpFile({vp8x, riffChunk("VP8 ", bytes(21, 0x11)), riffChunk("EXIF", tiff)});
}

}  // namespace testjpeg
