// What Dornick does with inputs and surroundings that work against it.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "DornickRun.h"

namespace {

class HostileInputTest : public DornickRunTest {
 protected:
  std::set<std::string> names() const {
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      found.insert(entry.path().filename().string());
    return found;
  }
  void put(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }
  // The input is refused: status 1, the load message with the reason on the next line, no map.
  void expectRefused(const std::string& input, const std::string& reasonPart,
                     const std::vector<std::string>& options = {}) {
    std::vector<std::string> arguments{"AS", input, path("out.pgm"), "10"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const ProcessResult result = run(arguments);
    EXPECT_EQ(result.status, 1) << input;
    EXPECT_EQ(result.err.rfind(" could not load " + input + "\nDornick -> ", 0), 0u) << result.err;
    EXPECT_NE(result.err.find(reasonPart), std::string::npos) << input << ": " << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(exists("out.pgm")) << input;
  }
  // Starts Dornick (output discarded) with TMPDIR set, and returns its process id.
  static pid_t start(const std::vector<std::string>& arguments, const std::string& temporaryFolder = "") {
    std::vector<std::string> words{DORNICK_PATH};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
      const int devNull = open("/dev/null", O_WRONLY);
      dup2(devNull, 1);
      dup2(devNull, 2);
      if (!temporaryFolder.empty()) setenv("TMPDIR", temporaryFolder.c_str(), 1);
      execv(argv[0], argv.data());
      _exit(127);
    }
    return child;
  }
  // Runs Dornick (output discarded) and returns its largest resident size in kB.
  static long peakKilobytesOf(const std::vector<std::string>& arguments) {
    int status = 0;
    rusage usage{};
    wait4(start(arguments), &status, 0, &usage);
    return usage.ru_maxrss;
  }
  // Every file below the folder, by its path relative to it.
  std::set<std::string> filesBelow(const std::string& name) const {
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder / name))
      found.insert(std::filesystem::relative(entry.path(), folder / name).string());
    return found;
  }
  void convert(const std::string& arguments) const {
    ASSERT_EQ(std::system(("cd '" + folder.string() + "' && convert " + arguments).c_str()), 0) << arguments;
  }
};

// A PNG whose header declares a huge image, followed by a few bytes of data: the
// size alone decides, before any pixel is decoded.
std::string declaredPng(unsigned width, unsigned height) {
  std::ifstream sample(dataFile("rocket_96x64.png"), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(sample)), {});
  // IHDR data starts at 16: width and height, big-endian; its CRC follows at 29.
  for (int i = 0; i < 4; ++i) {
    bytes[16 + i] = static_cast<char>((width >> (24 - 8 * i)) & 0xFF);
    bytes[20 + i] = static_cast<char>((height >> (24 - 8 * i)) & 0xFF);
  }
  unsigned crc = 0xFFFFFFFFu;
  for (int i = 12; i < 29; ++i) {
    crc ^= static_cast<unsigned char>(bytes[i]);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  crc ^= 0xFFFFFFFFu;
  for (int i = 0; i < 4; ++i) bytes[29 + i] = static_cast<char>((crc >> (24 - 8 * i)) & 0xFF);
  return bytes;
}

std::string pngChunk(const std::string& type, const std::string& data) {
  std::string chunk;
  for (const int shift : {24, 16, 8, 0}) chunk += static_cast<char>((data.size() >> shift) & 0xFF);
  chunk += type + data;
  const uLong crc = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(chunk.data() + 4),
                          static_cast<uInt>(chunk.size() - 4));
  for (const int shift : {24, 16, 8, 0}) chunk += static_cast<char>((crc >> shift) & 0xFF);
  return chunk;
}

// A zlib stream of `zeros` zero bytes, made without holding them.
std::string deflatedZeros(size_t zeros, bool finish = true) {
  z_stream stream{};
  deflateInit(&stream, 9);
  const std::string block(1 << 20, '\0');
  std::string out;
  char buffer[1 << 16];
  for (size_t left = zeros; left > 0 || finish;) {
    const size_t now = std::min(left, block.size());
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(block.data()));
    stream.avail_in = static_cast<uInt>(now);
    left -= now;
    const int flush = left > 0 ? Z_NO_FLUSH : finish ? Z_FINISH : Z_SYNC_FLUSH;
    int status = Z_OK;
    do {
      stream.next_out = reinterpret_cast<Bytef*>(buffer);
      stream.avail_out = sizeof buffer;
      status = deflate(&stream, flush);
      out.append(buffer, sizeof buffer - stream.avail_out);
    } while (stream.avail_out == 0);
    if (left == 0 && (status == Z_STREAM_END || !finish)) break;
  }
  deflateEnd(&stream);
  return out;
}

// Decoder name syntax (coder prefixes, frame and size suffixes, URLs, standard
// input) is not interpreted: each of these is just a name, and no such file exists.
TEST_F(HostileInputTest, DecoderNameSyntaxIsNotInterpreted) {
  writeBlankPpm("photo.ppm", 20, 20);
  for (const std::string name :
       {"text:/etc/passwd", "msl:x.msl", "epsf:x.eps", "epi:x", "ai:x", "pdfa:x", "fd:0", "-", "x:root",
        "label:", "rose:", "xc:red[16000x8000]", "ftp://127.0.0.1:9/x.png"})
    expectRefused(name, "Cannot open the file: No such file or directory");
  expectRefused(path("photo.ppm[2000x2000]"), "Cannot open the file: No such file or directory");
  expectRefused(path("photo.ppm[0]"), "Cannot open the file: No such file or directory");
}

TEST_F(HostileInputTest, NamesThatLookLikeSyntaxAreOrdinaryFiles) {
  writeBlankPpm("photo.ppm[4x4]", 20, 12);
  const ProcessResult result = run({"GL", path("photo.ppm[4x4]"), path("out.pgm"), "4"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(parseLabelMap(readFile(path("out.pgm"))).width, 20);  // not resized to 4 x 4
}

// Scripts, vector and document formats never reach a decoder, whatever the file is
// called: no helper program starts (a "gs" first on the search path would leave a
// mark) and nothing crashes.
TEST_F(HostileInputTest, ContentOutsideTheListIsRefusedBeforeDecoding) {
  put("gs", "#!/bin/sh\ntouch '" + path("helper-started") + "'\n");
  chmod(path("gs").c_str(), 0755);
  put("msl:x.msl", "<?xml version=\"1.0\"?><image><read filename=\"rose:\"/></image>\n");
  put("drawing.png", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"9\" height=\"9\"/>\n");
  put("page.eps", "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 10 10\nshowpage\n");
  put("page.jpg", "%PDF-1.4\n1 0 obj<<>>endobj\ntrailer<<>>\n%%EOF\n");
  put("vector.ppm", "push graphic-context\nviewbox 0 0 10 10\npop graphic-context\n");
  put("notes.bmp", "just some text\n");
  put("empty.png", "");
  const std::string notListed = "The file is not a PNG, JPEG, GIF, TIFF, BMP, PNM (PBM, PGM, PPM, PAM) or WebP image";
  const std::string searchPath = "PATH='" + folder.string() + "':\"$PATH\";";
  for (const std::string name : {"msl:x.msl", "drawing.png", "page.eps", "page.jpg", "vector.ppm", "notes.bmp"}) {
    const ProcessResult result = runAfter(searchPath, {"AS", path(name), path("out.pgm")});
    EXPECT_EQ(result.status, 1) << name;
    EXPECT_EQ(result.err, " could not load " + path(name) + "\nDornick -> " + notListed + "\n");
  }
  expectRefused(path("empty.png"), "The file is empty");
  EXPECT_FALSE(exists("helper-started"));
  EXPECT_FALSE(exists("out.pgm"));
}

// A URL is a name like any other: nothing connects to the listening port.
TEST_F(HostileInputTest, UrlOpensNoConnection) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  socklen_t length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string port = std::to_string(ntohs(address.sin_port));
  for (const std::string scheme : {"ftp", "http", "https"})
    expectRefused(scheme + "://127.0.0.1:" + port + "/x.png", "No such file or directory");
  EXPECT_LT(accept(listener, nullptr, nullptr), 0);  // nobody knocked
  close(listener);
}

TEST_F(HostileInputTest, OnlyRegularFilesAreRead) {
  std::filesystem::create_directory(folder / "folder.png");
  ASSERT_EQ(mkfifo(path("pipe.ppm").c_str(), 0600), 0);
  expectRefused(path("folder.png"), "It is a folder, not an image file");
  expectRefused(path("pipe.ppm"), "It is a pipe, not an image file");  // and does not wait for a writer
  expectRefused("/dev/zero", "It is a device, not an image file");
}

// Decompression bombs: refused on their declared size, with the need named, before
// the memory is taken.
TEST_F(HostileInputTest, ImageLargerThanTheMachineHoldsIsRefusedBeforeDecoding) {
  put("bomb.png", declaredPng(16000, 16000));
  expectRefused(path("bomb.png"), "16000 x 16000 pixels (256.0 megapixels) need about 35.9 GB of memory, more than "
                                  "this machine holds");
  // Sizes the decoders do not read are named so.
  put("wide.png", declaredPng(40000, 2));
  expectRefused(path("wide.png"), "40000 x 2 pixels: images wider or higher than 16000 pixels are not supported");
  EXPECT_LT(peakKilobytesOf({"AS", path("bomb.png"), path("out.pgm")}), 150 * 1024);
}

// Regression: a text chunk declaring 1.7 GB made the PNG decoder take it all
// before finding the file ends; found by the loader fuzz target.
TEST_F(HostileInputTest, ChunkDeclaringGigabytesIsRefusedWithLittleMemory) {
  std::string bytes = declaredPng(96, 64);
  const std::string chunk = std::string("\x65\x00\x00\x00zTXt", 8) + std::string(200, 'A');
  bytes.insert(33, chunk);  // right after IHDR
  put("chunk.png", bytes);
  expectRefused(path("chunk.png"), "a PNG chunk declares more bytes than the file holds");
  EXPECT_LT(peakKilobytesOf({"AS", path("chunk.png"), path("out.pgm")}), 150 * 1024);
}

// The user's limit is applied the same way, and names the need against it.
TEST_F(HostileInputTest, MaxMegapixelsLowersTheLimit) {
  put("bomb.png", declaredPng(4000, 4000));
  expectRefused(path("bomb.png"), "4000 x 4000 pixels (16.0 megapixels) need about 2.3 GB of memory; the limit is "
                                  "1.0 megapixels (--max-megapixels)", {"--max-megapixels", "1"});
  EXPECT_LT(peakKilobytesOf({"AS", path("bomb.png"), path("out.pgm"), "--max-megapixels", "1"}), 150 * 1024);
  const std::string photo = dataFile("rocket_96x64.png");  // 6144 pixels
  expectRefused(photo, "the limit is 0.0 megapixels", {"--max-megapixels", "0.006"});
  EXPECT_EQ(run({"AS", photo, path("out.pgm"), "--max-megapixels=0.0062"}).status, 0);
  for (const std::string bad : {"0", "-1", "abc", "1x", "1e10", ""}) {
    const ProcessResult result = run({"AS", photo, path("out.pgm"), "--max-megapixels", bad});
    EXPECT_EQ(result.status, 2) << bad;
    const std::string named = bad.empty() ? "needs a value" : "not \"" + bad + "\"";
    EXPECT_NE(result.err.find(named), std::string::npos) << result.err;
  }
}

// Compressed text inflating to gigabytes for a tiny image: refused after what
// the image itself needs, before a decoder takes any of it. Metadata within that
// is left out of the decoding and changes nothing.
TEST_F(HostileInputTest, PngMetadataBombIsRefusedWithLittleMemory) {
  const std::string photo = declaredPng(96, 64);
  std::string bomb = photo;
  for (int i = 0; i < 4; ++i) bomb.insert(33, pngChunk("zTXt", std::string("Comment\0\0", 9) + deflatedZeros(64 << 20)));
  put("bomb.png", bomb);
  expectRefused(path("bomb.png"), "Its compressed text or profile chunks inflate to more than 12.9 MB, more than the "
                                  "image itself needs: a decompression bomb");
  EXPECT_LT(peakKilobytesOf({"AS", path("bomb.png"), path("out.pgm")}), 150 * 1024);

  std::string annotated = photo;
  annotated.insert(33, pngChunk("zTXt", std::string("Comment\0\0", 9) + deflatedZeros(100000)) +
                           pngChunk("tEXt", "Title\0a photo") + pngChunk("prVt", std::string(50, 'x')));
  put("annotated.png", annotated);
  put("photo.png", photo);
  ASSERT_EQ(run({"AS", path("photo.png"), path("plain.pgm"), "10"}).status, 0);
  const ProcessResult result = run({"AS", path("annotated.png"), path("out.pgm"), "10"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(readFile(path("out.pgm")), readFile(path("plain.pgm")));
}

// The decoder gives no reason for pixel data that stops short; the reason is found.
TEST_F(HostileInputTest, PngWhosePixelDataStopsShortIsRefusedWithTheReason) {
  const std::string header("\0\0\0\xC8\0\0\0\xC8\x08\0\0\0\0", 13);  // 200 x 200 grey, 8 bits
  put("short.png", "\x89PNG\r\n\x1a\n" + pngChunk("IHDR", header) + pngChunk("IDAT", deflatedZeros(2 * 201, false)) +
                       pngChunk("IEND", ""));
  for (const std::vector<std::string>& options : {std::vector<std::string>{}, {"--accept-damaged"}})
    expectRefused(path("short.png"), "The image is damaged: its pixel data stops after 2 of 200 rows", options);
}

// A progressive JPEG whose last scan repeats makes the decoder redo the image
// each time: refused before decoding, or decoded without the repeats on request.
TEST_F(HostileInputTest, RepeatedJpegScansAreRefusedOrLeftOut) {
  convert("'" + dataFile("rocket_96x64.png") + "' -resize 400% -interlace Plane progressive.jpg");
  const ProcessResult whole = run({"AS", path("progressive.jpg"), path("whole.pgm"), "10"});
  ASSERT_EQ(whole.status, 0) << whole.err;
  EXPECT_EQ(whole.err, "");
  const std::string bytes = readFile(path("progressive.jpg"));
  // Stuffed bytes keep FF DA out of the coded data: the last one starts the last scan.
  const size_t lastScan = bytes.rfind("\xFF\xDA");
  ASSERT_NE(lastScan, std::string::npos);
  const std::string scan = bytes.substr(lastScan, bytes.size() - 2 - lastScan);
  std::string repeated = bytes.substr(0, bytes.size() - 2);
  for (int i = 0; i < 50; ++i) repeated += scan;
  put("repeated.jpg", repeated + "\xFF\xD9");
  expectRefused(path("repeated.jpg"), "repeats what earlier scans gave (--accept-damaged uses what can be decoded)");
  const ProcessResult accepted = run({"AS", path("repeated.jpg"), path("out.pgm"), "10", "--accept-damaged"});
  EXPECT_EQ(accepted.status, 0) << accepted.err;
  EXPECT_NE(accepted.err.find("repeats what earlier scans gave); the scans before it are used."), std::string::npos)
      << accepted.err;
  EXPECT_EQ(readFile(path("out.pgm")), readFile(path("whole.pgm")));
}

// Truncated downloads and corrupted bytes: the decoder's complaint refuses the image.
TEST_F(HostileInputTest, DamagedJpegsAreRefusedWithTheDecodersReason) {
  convert("'" + dataFile("rocket_96x64.png") + "' -resize 400% -quality 90 whole.jpg");
  const std::string whole = readFile(path("whole.jpg"));
  for (const int percent : {10, 50, 99}) {
    const std::string name = "cut" + std::to_string(percent) + ".jpg";
    put(name, whole.substr(0, whole.size() * percent / 100));
    expectRefused(path(name), "The image is damaged: Premature end of JPEG file");
  }
  std::string noisy = whole;
  unsigned seed = 7;
  for (size_t i = noisy.size() / 2; i < noisy.size() / 2 + 64; ++i) {
    seed = seed * 1103515245u + 12345u;
    noisy[i] = static_cast<char>(seed >> 16);
  }
  put("noisy.jpg", noisy);
  expectRefused(path("noisy.jpg"), "The image is damaged: Corrupt JPEG data");
  const ProcessResult intact = run({"AS", path("whole.jpg"), path("out.pgm"), "10"});
  EXPECT_EQ(intact.status, 0);
  EXPECT_EQ(intact.err, "");
  std::filesystem::remove(path("out.pgm"));

  // On request the decodable part is segmented, and the damage is still said.
  for (const std::string name : {"cut50.jpg", "noisy.jpg"}) {
    const ProcessResult accepted = run({"AS", path(name), path("out.pgm"), "10", "--accept-damaged"});
    EXPECT_EQ(accepted.status, 0) << name << accepted.err;
    EXPECT_EQ(accepted.err.rfind("\nWARNING: Dornick -> The image is damaged (", 0), 0u) << accepted.err;
    EXPECT_NE(accepted.err.find("); using what could be decoded.\n"), std::string::npos) << accepted.err;
    EXPECT_EQ(parseLabelMap(readFile(path("out.pgm"))).width, 384) << name;
  }
}

// Every listed format is read, told by content whatever the extension says.
TEST_F(HostileInputTest, EveryListedFormatIsReadByContent) {
  const ProcessResult reference = run({"AS", dataFile("rocket_96x64.png"), path("reference.pgm"), "10"});
  ASSERT_EQ(reference.status, 0);
  for (const std::string format : {"PNG", "GIF", "TIFF", "BMP", "PPM", "PGM", "PAM", "WEBP"}) {
    convert("'" + dataFile("rocket_96x64.png") + "' " + (format == "GIF" ? "-colors 256 " : "") +
            (format == "WEBP" ? "-define webp:lossless=true " : "") + format + ":picture.img");
    const ProcessResult result = run({"AS", path("picture.img"), path("out.pgm"), "10"});
    EXPECT_EQ(result.status, 0) << format << ": " << result.err;
    EXPECT_EQ(result.err, "") << format;
    if (format != "GIF" && format != "PGM")  // lossless copies segment exactly like the original
      EXPECT_EQ(readFile(path("out.pgm")), readFile(path("reference.pgm"))) << format;
  }
}

// Only the first frame is decoded, and the user is told; transparency is named as ignored.
TEST_F(HostileInputTest, FramesBeyondTheFirstAreNotDecodedAndTransparencyIsNamed) {
  convert("-size 1000x1000 xc:red xc:lime xc:blue xc:red xc:lime xc:blue xc:red xc:lime frames.gif");
  ProcessResult result = run({"GL", path("frames.gif"), path("out.pgm"), "300"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "\nWARNING: Dornick -> The file holds several frames; the first one is used.\n");
  // Eight frames decoded would take at least 8 x 1000 x 1000 x 10 bytes, 80 MB.
  EXPECT_LT(peakKilobytesOf({"GL", path("frames.gif"), path("out.pgm"), "300"}), 60 * 1024);

  convert("'" + dataFile("rocket_96x64.png") + "' -alpha set -channel A -evaluate set 40% see-through.png");
  result = run({"AS", path("see-through.png"), path("out.pgm"), "10"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "\nWARNING: Dornick -> The image's transparency is ignored; its colours are used as "
                        "they are.\n");
  convert("'" + dataFile("rocket_96x64.png") + "' -alpha set opaque-alpha.png");
  EXPECT_EQ(run({"AS", path("opaque-alpha.png"), path("out.pgm"), "10"}).err, "");
}

// A full disk, simulated by a file-size limit of 8 blocks (SIGXFSZ ignored, so the
// write fails instead of killing the program): the run fails, the earlier map stays
// whole, and no partial file is left beside it.
TEST_F(HostileInputTest, FailedWriteKeepsTheExistingMapAndLeavesNoPartialFile) {
  const std::string image = writePpm("in.ppm", 160, 120, [](int x, int y) {
    return Rgb{static_cast<unsigned char>(x * 7 % 256), static_cast<unsigned char>(y * 5), 90};
  });
  const std::string fullDisk = "trap '' XFSZ; ulimit -f 8;";
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"AS", image, path("out.pgm"), "300"},
        std::vector<std::string>{"GL", image, path("out.pgm"), "2"}}) {
    const ProcessResult complete = run(arguments);
    ASSERT_EQ(complete.status, 0) << complete.err;
    const std::string before = readFile(path("out.pgm"));
    ASSERT_GT(before.size(), 8u * 1024u);  // larger than the limit whatever the block size

    const ProcessResult failed = runAfter(fullDisk, arguments);
    EXPECT_EQ(failed.status, 1) << arguments[0];
    EXPECT_NE(failed.out.find("failure in closing file " + path("out.pgm")), std::string::npos) << failed.out;
    EXPECT_EQ(readFile(path("out.pgm")), before) << arguments[0];
    EXPECT_EQ(names(), (std::set<std::string>{"in.ppm", "out.pgm", "stdout.txt", "stderr.txt"}));
  }
}

// Picture formats outside the short list fail before any work, whatever they
// would have done: crash in their writer (html), start a program (mp4 runs
// ffmpeg; one first on the search path would leave a mark) or fail only at
// the end (ico beyond 256 pixels). The extension counts in any case.
TEST_F(HostileInputTest, PictureFormatsOutsideTheListAreRefusedBeforeAnyWork) {
  put("ffmpeg", "#!/bin/sh\ntouch '" + path("helper-started") + "'\n");
  chmod(path("ffmpeg").c_str(), 0755);
  const std::string searchPath = "PATH='" + folder.string() + "':\"$PATH\";";
  const std::string photo = dataFile("rocket_96x64.png");
  for (const std::string picture : {"p.html", "p.mp4", "p.ico"}) {
    const ProcessResult result = runAfter(searchPath, {"AS", photo, path("out.pgm"), "--preview", path(picture)});
    EXPECT_EQ(result.status, 1) << picture;
    EXPECT_EQ(result.err.rfind("Dornick: " + path(picture) + ": the extension names no picture format Dornick writes (.png, ", 0), 0u)
        << result.err;
    EXPECT_EQ(result.out, "") << picture;  // nothing segmented
    EXPECT_FALSE(exists("out.pgm")) << picture;
  }
  EXPECT_FALSE(exists("helper-started"));
  const ProcessResult upper = run({"AS", photo, path("out.pgm"), "--outline", path("P.PNG"), "--regions", path("R.JSON")});
  EXPECT_EQ(upper.status, 0) << upper.err;
  EXPECT_EQ(readFile(path("P.PNG")).substr(0, 4), "\x89PNG");
  EXPECT_EQ(readFile(path("R.JSON")).substr(0, 10), "{\"width\": ");
}

// Outputs are compared by the file they name: the input, or one file named
// twice however it is spelled, is refused before the work and stays as it was.
TEST_F(HostileInputTest, OutputThatIsTheInputOrAnotherOutputIsRefused) {
  const std::string input = writePpm("photo.ppm", 24, 16, [](int x, int y) {
    return Rgb{static_cast<unsigned char>(10 * x), static_cast<unsigned char>(12 * y), 99};
  });
  const std::string before = readFile(input);
  std::filesystem::create_symlink(input, path("link.pgm"));
  const std::string isInput = " is the input file; an output never replaces the input\n";
  const std::string oneFile = " are one file; each output needs its own\n";
  const std::string spelled = folder.string() + "/./out.pgm";
  for (const auto& [arguments, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"AS", input, input}, input + isInput},
           {{"AS", input, path("out.pgm"), "--preview", folder.string() + "/./photo.ppm"}, folder.string() + "/./photo.ppm" + isInput},
           {{"AS", input, path("link.pgm")}, path("link.pgm") + isInput},
           {{"AS", input, path("out.pgm"), "--preview", spelled}, path("out.pgm") + " and " + spelled + oneFile},
           {{"GL", input, path("out.pgm"), "4", "--preview", path("x.png"), "--labels-png", path("x.png")},
            path("x.png") + " and " + path("x.png") + oneFile}}) {
    const ProcessResult result = run(arguments);
    EXPECT_EQ(result.status, 1) << message;
    EXPECT_EQ(result.err, "Dornick: " + message);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(readFile(input), before) << message;
    EXPECT_FALSE(exists("out.pgm")) << message;
  }
  EXPECT_TRUE(std::filesystem::is_symlink(path("link.pgm")));
}

// A run ended by SIGTERM, or by its time limit, removes every temporary file:
// here the decoder's pixel cache (kept on disk by a low memory limit) while the
// map waits for a reader of its pipe.
TEST_F(HostileInputTest, StoppedRunLeavesNoTemporaryFile) {
  const std::string image = writePpm("big.ppm", 600, 500, [](int x, int y) {
    return Rgb{static_cast<unsigned char>(x), static_cast<unsigned char>(y), 7};
  });
  std::filesystem::create_directory(folder / "tmp");
  ASSERT_EQ(mkfifo(path("map.pgm").c_str(), 0600), 0);
  setenv("MAGICK_MEMORY_LIMIT", "1MiB", 1);
  setenv("MAGICK_MAP_LIMIT", "1MiB", 1);
  const pid_t child = start({"GL", image, path("map.pgm"), "50", "--preview", path("p.png")}, path("tmp"));
  unsetenv("MAGICK_MEMORY_LIMIT");
  unsetenv("MAGICK_MAP_LIMIT");
  // The cache file appears once the image is decoded; the run then blocks on the pipe.
  bool cached = false;
  for (int wait = 0; wait < 1200 && !cached; ++wait) {
    usleep(50000);
    for (const std::string& name : filesBelow("tmp")) cached = cached || name.find("/magick-") != std::string::npos;
  }
  EXPECT_TRUE(cached) << "no pixel cache file appeared";
  kill(child, SIGTERM);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) << status;
  EXPECT_EQ(filesBelow("tmp"), std::set<std::string>{});
  EXPECT_EQ(names(), (std::set<std::string>{"big.ppm", "map.pgm", "tmp"}));

  const ProcessResult limited =
      runAfter("TMPDIR='" + path("tmp") + "'", {"AS", image, path("out.pgm"), "--max-seconds", "0.001", "--preview", path("p.png")});
  EXPECT_EQ(limited.status, 1);
  EXPECT_EQ(limited.err, "Dornick: the time limit of 0.001 seconds (--max-seconds) was reached; nothing was written\n");
  EXPECT_EQ(filesBelow("tmp"), std::set<std::string>{});
  EXPECT_EQ(names(), (std::set<std::string>{"big.ppm", "map.pgm", "tmp", "stdout.txt", "stderr.txt"}));
}

// The memory an image is refused for is what a run really takes: the estimate
// in the refusal is within a quarter of the peak measured for the same image.
TEST_F(HostileInputTest, MemoryEstimateIsWithinAQuarterOfTheMeasuredPeak) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizers' own memory would be measured";
#endif
  unsigned seed = 11;
  const std::string image = writePpm("noise.ppm", 1000, 1000, [&seed](int, int) {
    seed = seed * 1103515245u + 12345u;
    return Rgb{static_cast<unsigned char>(seed >> 16), static_cast<unsigned char>(seed >> 20),
               static_cast<unsigned char>(seed >> 24)};
  });
  const ProcessResult refused = run({"AS", image, path("out.pgm"), "40", "--max-megapixels", "0.5"});
  const std::string said = "(1.0 megapixels) need about ";
  const size_t at = refused.err.find(said);
  ASSERT_NE(at, std::string::npos) << refused.err;
  ASSERT_NE(refused.err.find(" MB of memory", at), std::string::npos) << refused.err;
  const double estimate = std::atof(refused.err.c_str() + at + said.size()) * 1e6;
  const double peak = 1024.0 * static_cast<double>(peakKilobytesOf({"AS", image, path("out.pgm"), "40"}));
  ASSERT_TRUE(exists("out.pgm"));
  EXPECT_LT(std::abs(estimate - peak), 0.25 * peak) << "estimate " << estimate << ", peak " << peak;
}

}  // namespace
