#include "support/samples.h"

#include "support/jpeg_writer.h"

namespace ostrel::test {
namespace {

Sample sample(std::string name, const JpegWriterOptions& options) {
  return Sample{std::move(name), make_jpeg(options).bytes,
                options.frame == FrameKind::baseline ||
                    options.frame == FrameKind::progressive,
                options.width, options.height};
}

}  // namespace

std::vector<Sample> shipped_samples() {
  JpegWriterOptions camera;  // 640 x 480 with an Exif thumbnail
  JpegWriterOptions progressive;
  progressive.width = 800;
  progressive.height = 600;
  progressive.frame = FrameKind::progressive;
  progressive.exif = false;
  JpegWriterOptions portrait;
  portrait.width = 480;
  portrait.height = 640;
  portrait.thumbnail_width = 120;
  portrait.thumbnail_height = 160;
  JpegWriterOptions panorama;
  panorama.width = 2048;
  panorama.height = 256;
  panorama.jfif = false;
  panorama.thumbnail_width = 320;
  panorama.thumbnail_height = 40;
  JpegWriterOptions no_frame;  // the frame header left out
  no_frame.width = 320;
  no_frame.height = 240;
  no_frame.frame = FrameKind::none;
  no_frame.exif = false;
  return {
      sample("camera.jpg", camera),
      sample("progressive.jpg", progressive),
      sample("PORTRAIT.JPG", portrait),
      sample("more/panorama.jpg", panorama),
      sample("more/no-frame.jpg", no_frame),
  };
}

}  // namespace ostrel::test
