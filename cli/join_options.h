// The options of tessara-join and their reading from the command line. Every
// value is checked against its range; a bad one gives a message naming the
// option and what it accepts.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/session.h"

namespace tessara {

struct JoinOptions {
  std::string source1, source2, output;
  // Every picture to join, source 1 and source 2 first; with more than two,
  // each next one is joined onto the Target so far.
  std::vector<std::string> sources;
  int offsetX = 0, offsetY = 0;
  int scale1X = session_default::kScale, scale1Y = session_default::kScale;
  int scale2X = session_default::kScale, scale2Y = session_default::kScale;
  double rotate1 = 0.0, rotate2 = 0.0;
  int cutCorners1 = session_default::kCutCorners, cutCorners2 = session_default::kCutCorners;
  int mirror1 = 0, mirror2 = 0;
  int mergeRule = kMergeAverage;  // a MergeRule
  int bias = session_default::kBias;
  int fade1 = 0, fade2 = 0;
  bool matchExposure = false;
  int monoAnd = 0;
  int contrast = session_default::kContrast, brightness = session_default::kBrightness, swing = 0;
  int solidGrid = 0, dottedGrid = 0;  // spacing, 0 = none
  int gridWhite = 0;
  bool zone = false;
  int zoneX1 = 0, zoneY1 = 0, zoneX2 = 0, zoneY2 = 0;
  // Automatic alignment: estimate source 2's offset, rotation and scale (those
  // given explicitly win), and print them as options.
  bool autoAlign = false;
  bool printAlignment = false;
  bool hasOffset = false, hasRotate2 = false, hasScale2 = false;
  bool quiet = false;
  // Keep the stored pixels of a picture with an orientation tag; write no
  // camera data into the output.
  bool ignoreOrientation = false;
  bool stripMetadata = false;
  // The JPEG quality of a .jpg output and of a colour .tif output compressed
  // as JPEG; a colour .tif output compressed without loss (deflate) instead.
  int quality = 90;
  bool losslessTiff = false;
  // --jobs FILE: the list of joins to run instead of one ("-": standard input).
  std::string jobs;
  // With --jobs: skip the lines whose output is newer than all their sources;
  // run only the lines shardIndex, shardIndex + shardCount, ... (from 1; 0 0
  // runs all); append one JSON object per line to `log`.
  bool resume = false;
  int shardIndex = 0, shardCount = 0;
  std::string log;
  bool help = false;
  bool version = false;
  // The Save-as file-type filter matching the output's ending (1 bmp .. 7 wmf).
  int filterIndex = 0;
};

// Reads the arguments (without the program name). On a mistake returns nothing
// and puts the message in `error`.
std::optional<JoinOptions> ParseJoinOptions(const std::vector<std::string>& args, std::string& error);

extern const char* const kJoinUsage;

}  // namespace tessara
