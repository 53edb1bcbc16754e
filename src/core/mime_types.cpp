#include "core/mime_types.h"

#include <iterator>
#include <utility>
#include <vector>

#include "core/str_utils.h"

namespace vtl {

namespace {

constexpr MimeTypePair kBuiltIn[] = {
    // Web pages, scripts and styles
    {".htm", "text/html"},
    {".html", "text/html"},
    {".shtml", "text/html"},
    {".hta", "application/hta"},
    {".htc", "text/x-component"},
    {".css", "text/css"},
    {".js", "text/javascript"},
    {".mjs", "text/javascript"},
    {".cjs", "text/javascript"},
    {".json", "application/json"},
    {".jsonld", "application/ld+json"},
    {".map", "application/json"},
    {".wasm", "application/wasm"},
    {".wgsl", "text/wgsl"},
    {".xml", "text/xml"},
    {".xsl", "text/xml"},
    {".xsd", "text/xml"},
    {".xslt", "application/xslt+xml"},
    {".dtd", "application/xml-dtd"},
    {".xhtml", "application/xhtml+xml"},
    {".xht", "application/xhtml+xml"},
    {".rss", "application/rss+xml"},
    {".atom", "application/atom+xml"},
    {".rdf", "application/rdf+xml"},
    {".mathml", "application/mathml+xml"},
    {".mml", "application/mathml+xml"},
    {".webmanifest", "application/manifest+json"},
    {".appcache", "text/cache-manifest"},
    {".vbs", "text/vbscript"},
    {".pac", "application/x-ns-proxy-autoconfig"},
    {".xaml", "application/xaml+xml"},

    // Fonts
    {".woff", "font/woff"},
    {".woff2", "font/woff2"},
    {".ttf", "font/ttf"},
    {".otf", "font/otf"},
    {".ttc", "font/collection"},
    {".eot", "application/vnd.ms-fontobject"},

    // Plain and structured text
    {".txt", "text/plain"},
    {".text", "text/plain"},
    {".log", "text/plain"},
    {".conf", "text/plain"},
    {".md", "text/markdown"},
    {".markdown", "text/markdown"},
    {".csv", "text/csv"},
    {".tsv", "text/tab-separated-values"},
    {".rtx", "text/richtext"},
    {".rtf", "application/rtf"},
    {".vtt", "text/vtt"},
    {".srt", "application/x-subrip"},
    {".ics", "text/calendar"},
    {".vcf", "text/vcard"},
    {".vcard", "text/vcard"},
    {".sgml", "text/sgml"},
    {".sgm", "text/sgml"},
    {".uri", "text/uri-list"},
    {".diff", "text/x-diff"},
    {".patch", "text/x-diff"},
    {".yaml", "text/yaml"},
    {".yml", "text/yaml"},
    {".toml", "application/toml"},
    {".wml", "text/vnd.wap.wml"},

    // Source code
    {".c", "text/x-c"},
    {".cpp", "text/x-c"},
    {".h", "text/x-c"},
    {".java", "text/x-java-source"},
    {".py", "text/x-python"},
    {".sh", "application/x-sh"},
    {".tex", "application/x-tex"},
    {".latex", "application/x-latex"},

    // Images
    {".png", "image/x-png"},
    {".apng", "image/apng"},
    {".jpg", "image/jpeg"},
    {".jpeg", "image/jpeg"},
    {".jpe", "image/jpeg"},
    {".jfif", "image/jpeg"},
    {".gif", "image/gif"},
    {".ico", "image/x-icon"},
    {".cur", "image/x-icon"},
    {".bmp", "image/bmp"},
    {".dib", "image/bmp"},
    {".webp", "image/webp"},
    {".svg", "image/svg+xml"},
    {".svgz", "image/svg+xml"},
    {".tif", "image/tiff"},
    {".tiff", "image/tiff"},
    {".avif", "image/avif"},
    {".heic", "image/heic"},
    {".heif", "image/heif"},
    {".jxl", "image/jxl"},
    {".jp2", "image/jp2"},
    {".jpx", "image/jpx"},
    {".jxr", "image/vnd.ms-photo"},
    {".wdp", "image/vnd.ms-photo"},
    {".psd", "image/vnd.adobe.photoshop"},
    {".tga", "image/x-tga"},
    {".pcx", "image/x-pcx"},
    {".pic", "image/x-pict"},
    {".pict", "image/x-pict"},
    {".pnm", "image/x-portable-anymap"},
    {".pbm", "image/x-portable-bitmap"},
    {".pgm", "image/x-portable-graymap"},
    {".ppm", "image/x-portable-pixmap"},
    {".xbm", "image/x-xbitmap"},
    {".xpm", "image/x-xpixmap"},
    {".djvu", "image/vnd.djvu"},
    {".dwg", "image/vnd.dwg"},
    {".dxf", "image/vnd.dxf"},
    {".emf", "image/emf"},
    {".wmf", "image/wmf"},
    {".icns", "image/icns"},
    {".exr", "image/x-exr"},
    {".hdr", "image/vnd.radiance"},
    {".dds", "image/vnd.ms-dds"},
    {".ktx", "image/ktx"},
    {".ktx2", "image/ktx2"},
    {".cgm", "image/cgm"},

    // Audio
    {".mp3", "audio/x-mpg"},
    {".mp2", "audio/mpeg"},
    {".mpa", "audio/mpeg"},
    {".mpga", "audio/mpeg"},
    {".wav", "audio/x-wav"},
    {".wave", "audio/x-wav"},
    {".ogg", "application/ogg"},
    {".oga", "audio/ogg"},
    {".opus", "audio/ogg"},
    {".spx", "audio/ogg"},
    {".flac", "audio/flac"},
    {".aac", "audio/aac"},
    {".m4a", "audio/mp4"},
    {".m4b", "audio/mp4"},
    {".m3u", "audio/x-mpegurl"},
    {".m3u8", "application/vnd.apple.mpegurl"},
    {".pls", "audio/x-scpls"},
    {".mid", "audio/mid"},
    {".midi", "audio/mid"},
    {".rmi", "audio/mid"},
    {".kar", "audio/midi"},
    {".aif", "audio/aiff"},
    {".aiff", "audio/aiff"},
    {".aifc", "audio/aiff"},
    {".au", "audio/basic"},
    {".snd", "audio/basic"},
    {".wma", "audio/x-ms-wma"},
    {".wax", "audio/x-ms-wax"},
    {".ra", "audio/x-pn-realaudio"},
    {".ram", "audio/x-pn-realaudio"},
    {".rpm", "audio/x-pn-realaudio-plugin"},
    {".amr", "audio/amr"},
    {".caf", "audio/x-caf"},
    {".ac3", "audio/ac3"},
    {".dts", "audio/vnd.dts"},
    {".weba", "audio/webm"},
    {".mka", "audio/x-matroska"},

    // Video
    {".mp4", "video/mpeg"},
    {".mp4v", "video/mp4"},
    {".mpg4", "video/mp4"},
    {".m4v", "video/x-m4v"},
    {".f4v", "video/mp4"},
    {".mpg", "video/mpeg"},
    {".mpeg", "video/mpeg"},
    {".mpe", "video/mpeg"},
    {".m1v", "video/mpeg"},
    {".m2v", "video/mpeg"},
    {".mpv2", "video/mpeg"},
    {".mp2v", "video/mpeg"},
    {".ts", "video/mp2t"},
    {".m2ts", "video/mp2t"},
    {".mts", "video/mp2t"},
    {".m2t", "video/mp2t"},
    {".tts", "video/vnd.dlna.mpeg-tts"},
    {".webm", "video/webm"},
    {".ogv", "video/ogg"},
    {".mov", "video/quicktime"},
    {".qt", "video/quicktime"},
    {".avi", "video/x-msvideo"},
    {".wmv", "video/x-ms-wmv"},
    {".wm", "video/x-ms-wm"},
    {".wmx", "video/x-ms-wmx"},
    {".wvx", "video/x-ms-wvx"},
    {".asf", "video/x-ms-asf"},
    {".asx", "video/x-ms-asf"},
    {".asr", "video/x-ms-asf"},
    {".lsf", "video/x-la-asf"},
    {".lsx", "video/x-la-asf"},
    {".dvr-ms", "video/x-ms-dvr"},
    {".wtv", "video/x-ms-wtv"},
    {".movie", "video/x-sgi-movie"},
    {".flv", "video/x-flv"},
    {".mkv", "video/x-matroska"},
    {".mk3d", "video/x-matroska-3d"},
    {".3gp", "video/3gpp"},
    {".3gpp", "video/3gpp"},
    {".3g2", "video/3gpp2"},
    {".3gp2", "video/3gpp2"},
    {".dv", "video/x-dv"},
    {".dif", "video/x-dv"},
    {".ivf", "video/x-ivf"},
    {".h261", "video/h261"},
    {".h263", "video/h263"},
    {".h264", "video/h264"},
    {".jpgv", "video/jpeg"},
    {".mj2", "video/mj2"},
    {".mjp2", "video/mj2"},
    {".fli", "video/x-fli"},
    {".mxu", "video/vnd.mpegurl"},
    {".m4u", "video/vnd.mpegurl"},
    {".mng", "video/x-mng"},
    {".smv", "video/x-smv"},
    {".divx", "video/divx"},
    {".viv", "video/vnd.vivo"},

    // 3D models
    {".gltf", "model/gltf+json"},
    {".glb", "model/gltf-binary"},
    {".obj", "model/obj"},
    {".stl", "model/stl"},
    {".3mf", "model/3mf"},
    {".dae", "model/vnd.collada+xml"},
    {".usdz", "model/vnd.usdz+zip"},
    {".wrl", "model/vrml"},
    {".vrml", "model/vrml"},
    {".x3d", "model/x3d+xml"},
    {".igs", "model/iges"},
    {".iges", "model/iges"},

    // Documents
    {".pdf", "application/pdf"},
    {".xps", "application/vnd.ms-xpsdocument"},
    {".oxps", "application/oxps"},
    {".epub", "application/epub+zip"},
    {".mobi", "application/x-mobipocket-ebook"},
    {".azw", "application/vnd.amazon.ebook"},
    {".ps", "application/postscript"},
    {".eps", "application/postscript"},
    {".ai", "application/postscript"},
    {".dvi", "application/x-dvi"},
    {".chm", "application/vnd.ms-htmlhelp"},
    {".hlp", "application/winhlp"},
    {".mif", "application/vnd.mif"},
    {".fdf", "application/vnd.fdf"},
    {".xfdf", "application/vnd.adobe.xfdf"},
    {".xdp", "application/vnd.adobe.xdp+xml"},
    {".eml", "message/rfc822"},
    {".mht", "message/rfc822"},
    {".mhtml", "message/rfc822"},
    {".nws", "message/rfc822"},
    {".msg", "application/vnd.ms-outlook"},

    // Office suites
    {".doc", "application/msword"},
    {".dot", "application/msword"},
    {".docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {".dotx", "application/vnd.openxmlformats-officedocument.wordprocessingml.template"},
    {".docm", "application/vnd.ms-word.document.macroenabled.12"},
    {".dotm", "application/vnd.ms-word.template.macroenabled.12"},
    {".xls", "application/vnd.ms-excel"},
    {".xlt", "application/vnd.ms-excel"},
    {".xla", "application/vnd.ms-excel"},
    {".xlc", "application/vnd.ms-excel"},
    {".xlm", "application/vnd.ms-excel"},
    {".xlw", "application/vnd.ms-excel"},
    {".xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {".xltx", "application/vnd.openxmlformats-officedocument.spreadsheetml.template"},
    {".xlsm", "application/vnd.ms-excel.sheet.macroenabled.12"},
    {".xlsb", "application/vnd.ms-excel.sheet.binary.macroenabled.12"},
    {".xltm", "application/vnd.ms-excel.template.macroenabled.12"},
    {".xlam", "application/vnd.ms-excel.addin.macroenabled.12"},
    {".ppt", "application/vnd.ms-powerpoint"},
    {".pps", "application/vnd.ms-powerpoint"},
    {".pot", "application/vnd.ms-powerpoint"},
    {".pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
    {".ppsx", "application/vnd.openxmlformats-officedocument.presentationml.slideshow"},
    {".potx", "application/vnd.openxmlformats-officedocument.presentationml.template"},
    {".sldx", "application/vnd.openxmlformats-officedocument.presentationml.slide"},
    {".pptm", "application/vnd.ms-powerpoint.presentation.macroenabled.12"},
    {".ppsm", "application/vnd.ms-powerpoint.slideshow.macroenabled.12"},
    {".potm", "application/vnd.ms-powerpoint.template.macroenabled.12"},
    {".ppam", "application/vnd.ms-powerpoint.addin.macroenabled.12"},
    {".sldm", "application/vnd.ms-powerpoint.slide.macroenabled.12"},
    {".thmx", "application/vnd.ms-officetheme"},
    {".one", "application/onenote"},
    {".onetoc2", "application/onenote"},
    {".onepkg", "application/onenote"},
    {".mpp", "application/vnd.ms-project"},
    {".mpt", "application/vnd.ms-project"},
    {".vsd", "application/vnd.visio"},
    {".vss", "application/vnd.visio"},
    {".vst", "application/vnd.visio"},
    {".vsdx", "application/vnd.ms-visio.drawing.main+xml"},
    {".pub", "application/x-mspublisher"},
    {".mdb", "application/x-msaccess"},
    {".accdb", "application/x-msaccess"},
    {".wri", "application/x-mswrite"},
    {".wps", "application/vnd.ms-works"},
    {".wks", "application/vnd.ms-works"},
    {".wcm", "application/vnd.ms-works"},
    {".wdb", "application/vnd.ms-works"},
    {".odt", "application/vnd.oasis.opendocument.text"},
    {".ott", "application/vnd.oasis.opendocument.text-template"},
    {".oth", "application/vnd.oasis.opendocument.text-web"},
    {".odm", "application/vnd.oasis.opendocument.text-master"},
    {".ods", "application/vnd.oasis.opendocument.spreadsheet"},
    {".ots", "application/vnd.oasis.opendocument.spreadsheet-template"},
    {".odp", "application/vnd.oasis.opendocument.presentation"},
    {".otp", "application/vnd.oasis.opendocument.presentation-template"},
    {".odg", "application/vnd.oasis.opendocument.graphics"},
    {".otg", "application/vnd.oasis.opendocument.graphics-template"},
    {".odf", "application/vnd.oasis.opendocument.formula"},
    {".odc", "application/vnd.oasis.opendocument.chart"},
    {".odb", "application/vnd.oasis.opendocument.database"},
    {".odi", "application/vnd.oasis.opendocument.image"},
    {".sxw", "application/vnd.sun.xml.writer"},
    {".sxc", "application/vnd.sun.xml.calc"},
    {".sxi", "application/vnd.sun.xml.impress"},
    {".sxd", "application/vnd.sun.xml.draw"},
    {".abw", "application/x-abiword"},
    {".wpd", "application/vnd.wordperfect"},

    // Certificates and signatures
    {".cer", "application/x-x509-ca-cert"},
    {".crt", "application/x-x509-ca-cert"},
    {".der", "application/x-x509-ca-cert"},
    {".pem", "application/x-pem-file"},
    {".p7b", "application/x-pkcs7-certificates"},
    {".spc", "application/x-pkcs7-certificates"},
    {".p7c", "application/pkcs7-mime"},
    {".p7m", "application/pkcs7-mime"},
    {".p7s", "application/pkcs7-signature"},
    {".p7r", "application/x-pkcs7-certreqresp"},
    {".p10", "application/pkcs10"},
    {".p12", "application/x-pkcs12"},
    {".pfx", "application/x-pkcs12"},
    {".crl", "application/pkix-crl"},
    {".sst", "application/vnd.ms-pki.certstore"},
    {".cat", "application/vnd.ms-pki.seccat"},
    {".pko", "application/vnd.ms-pki.pko"},
    {".asc", "application/pgp-signature"},
    {".sig", "application/pgp-signature"},

    // Archives and packages
    {".zip", "application/x-zip-compressed"},
    {".gz", "application/x-gzip"},
    {".tgz", "application/x-compressed"},
    {".tar", "application/x-tar"},
    {".gtar", "application/x-gtar"},
    {".ustar", "application/x-ustar"},
    {".z", "application/x-compress"},
    {".bz", "application/x-bzip"},
    {".bz2", "application/x-bzip2"},
    {".xz", "application/x-xz"},
    {".lz", "application/x-lzip"},
    {".lzma", "application/x-lzma"},
    {".zst", "application/zstd"},
    {".7z", "application/x-7z-compressed"},
    {".rar", "application/vnd.rar"},
    {".cab", "application/vnd.ms-cab-compressed"},
    {".arj", "application/x-arj"},
    {".lzh", "application/x-lzh-compressed"},
    {".lha", "application/x-lzh-compressed"},
    {".ace", "application/x-ace-compressed"},
    {".cpio", "application/x-cpio"},
    {".sv4cpio", "application/x-sv4cpio"},
    {".sv4crc", "application/x-sv4crc"},
    {".shar", "application/x-shar"},
    {".sit", "application/x-stuffit"},
    {".sitx", "application/x-stuffitx"},
    {".hqx", "application/mac-binhex40"},
    {".dmg", "application/x-apple-diskimage"},
    {".iso", "application/x-iso9660-image"},
    {".jar", "application/java-archive"},
    {".war", "application/java-archive"},
    {".ear", "application/java-archive"},
    {".apk", "application/vnd.android.package-archive"},
    {".xpi", "application/x-xpinstall"},
    {".crx", "application/x-chrome-extension"},
    {".deb", "application/vnd.debian.binary-package"},
    {".appx", "application/vnd.ms-appx"},
    {".appxbundle", "application/vnd.ms-appx.bundle"},
    {".msix", "application/msix"},
    {".msixbundle", "application/msixbundle"},
    {".vsix", "application/vsix"},
    {".torrent", "application/x-bittorrent"},

    // Programs and application data
    {".exe", "application/x-msdownload"},
    {".dll", "application/x-msdownload"},
    {".msi", "application/x-msi"},
    {".bin", "application/octet-stream"},
    {".class", "application/java-vm"},
    {".swf", "application/x-shockwave-flash"},
    {".spl", "application/futuresplash"},
    {".xap", "application/x-silverlight-app"},
    {".xbap", "application/x-ms-xbap"},
    {".application", "application/x-ms-application"},
    {".sqlite", "application/vnd.sqlite3"},

    // Other names for types above. The first pair of an extension is the one
    // used, so these never count; they only document the alternative.
    {".mp3", "video/mpeg"},
    {".xml", "application/xml"},
    {".ico", "image/vnd.microsoft.icon"},
    {".wav", "audio/wav"},
    {".zip", "application/zip"},
};

}  // namespace

std::span<const MimeTypePair> BuiltInMimeTypeList() { return kBuiltIn; }

MimeTypeTable::MimeTypeTable(const MimeRegistry* registry) {
  std::vector<std::pair<std::string, std::string>> pairs;
  pairs.reserve(std::size(kBuiltIn));
  for (const MimeTypePair& p : kBuiltIn) pairs.emplace_back(p.extension, p.contentType);

  if (registry != nullptr) {
    // Index of the first pair of each extension, so that a registry value
    // replaces the pair that would win.
    std::unordered_map<std::string, size_t, Hash, std::equal_to<>> first;
    first.reserve(pairs.size() * 2);
    for (size_t i = 0; i < pairs.size(); ++i) first.try_emplace(pairs[i].first, i);

    // A registry never reports empty values; should one appear anyway it is
    // ignored rather than allowed to blank out a built-in pair.
    auto set = [&](std::string ext, std::string type) {
      if (ext.empty() || type.empty()) return;
      if (auto it = first.find(ext); it != first.end()) {
        pairs[it->second].second = std::move(type);
      } else {
        first.emplace(ext, pairs.size());
        pairs.emplace_back(std::move(ext), std::move(type));
      }
    };

    registry->ForEachExtensionContentType([&](std::string_view ext, std::string_view type) {
      set(AsciiLower(ext), AsciiLower(type));
    });
    registry->ForEachDatabaseContentType([&](std::string_view type, std::string_view ext) {
      if (ext.empty()) return;
      std::string dotted = ext.front() == '.' ? AsciiLower(ext) : "." + AsciiLower(ext);
      set(std::move(dotted), AsciiLower(type));
    });
  }

  types_.reserve(pairs.size());
  for (auto& [ext, type] : pairs) {
    if (ext.empty() || type.empty()) continue;
    types_.try_emplace(std::move(ext), std::move(type));  // first pair wins
  }
}

std::string_view MimeTypeTable::Find(std::string_view fileName) const {
  const size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos) return kDefaultMimeType;
  const std::string_view ext = fileName.substr(dot);
  if (ext.size() > kMaxExtensionLength) return kDefaultMimeType;

  char lower[kMaxExtensionLength];
  for (size_t i = 0; i < ext.size(); ++i) {
    const char c = ext[i];
    if (c == '\\' || c == ':') return kDefaultMimeType;  // the dot was in a folder or stream name
    lower[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  const auto it = types_.find(std::string_view(lower, ext.size()));
  return it == types_.end() ? kDefaultMimeType : std::string_view(it->second);
}

const MimeTypeTable& MimeTypeTable::BuiltIn() {
  static const MimeTypeTable table;
  return table;
}

}  // namespace vtl
