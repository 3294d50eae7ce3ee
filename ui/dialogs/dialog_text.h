// The texts of the Target Window's tool dialogs, kept together so that the
// dialogs and their tests name the same words.
#pragma once

namespace tessara::dialog_text {

inline constexpr const char* kQuit = "Quit";
inline constexpr const char* kUpdateTarget = "Update Target";
inline constexpr const char* kSource1Prefix = "Source 1:  ";
inline constexpr const char* kSource2Prefix = "Source 2:  ";

// Merge Source 1 and 2.
inline constexpr const char* kMergeTitle = "Merge Source 1 and 2";
inline constexpr const char* kAverage = "Average";
inline constexpr const char* kGreatest = "Greatest";
inline constexpr const char* kLeast = "Least";
inline constexpr const char* kBlend = "Blend";
inline constexpr const char* kBlendBias =
    "With Blend, the bias moves the seam: toward source 2 gives source 1 more of the overlap";
inline constexpr const char* kBlendFades = "Blend fades every scale of detail by itself";
inline constexpr const char* kSourceBias = "Source Bias\n1 <---------> 2";
inline constexpr const char* kFadeEdge1 = "Fade edge source 1";
inline constexpr const char* kFadeEdge2 = "Fade edge source 2";
inline constexpr const char* kMatchExposure = "Match exposure and colour of source 2";
inline constexpr const char* kOverlapOnly = "Merge applies to overlapping areas only";

// Merge Monochrome.
inline constexpr const char* kMonoTitle = "Merge Monochrome";
inline constexpr const char* kBlackWhen = "Target will be black when ...";
inline constexpr const char* kOrBlack = "Source 1 OR 2 is black";
inline constexpr const char* kAndBlack = "Source 1 AND source 2 is black";
inline constexpr const char* kOtherwiseWhite = "Otherwise Target will be white";

// Contrast and Brightness.
inline constexpr const char* kContrastTitle = "Contrast and Brightness";
inline constexpr const char* kContrast = "Contrast";
inline constexpr const char* kBrightness = "Brightness";
inline constexpr const char* kSetDefaults = "Set Defaults";

// Cylindrical Projection.
inline constexpr const char* kCylinderTitle = "Cylindrical Projection";
inline constexpr const char* kSwingAngle = "Swing angle";
inline constexpr const char* kZero = "Zero";
inline constexpr const char* k180 = "180";
inline constexpr const char* kTooShallow =
    "This command cannot be carried out on anything less than 24 bit resolution.";

// Grid Lines.
inline constexpr const char* kGridTitle = "Grid Lines";
inline constexpr const char* kGridHint = "Set pixel spacing between solid and/or dotted grid.";
inline constexpr const char* kSolidGrid = "Solid Grid";
inline constexpr const char* kDottedGrid = "Dotted Grid";
inline constexpr const char* kEnable = "Enable";
inline constexpr const char* kWhiteGrid = "White grid";
inline constexpr const char* kEnterInteger = "Please enter an integer.";
// %1 and %2 are the lowest and highest value allowed.
inline constexpr const char* kEnterIntegerBetween = "Please enter an integer between %1 and %2.";

// Fine Adjustment.
inline constexpr const char* kFineTitle = "Fine Adjustment";
inline constexpr const char* kFineHint =
    "These commands CHANGE the scaling, distance between or the rotation of the source images from values "
    "decided at align time.";
inline constexpr const char* kDistance = "Distance in pixels between source images";
inline constexpr const char* kHorizontal = "Horizontal";
inline constexpr const char* kVertical = "Vertical";
inline constexpr const char* kSource1Geometry = "Source 1 geometry";
inline constexpr const char* kSource2Geometry = "Source 2 geometry";
inline constexpr const char* kRotateAngle = "Rotate angle\n0.1 degrees";
inline constexpr const char* kHorizScale = "Horiz. scale";
inline constexpr const char* kVerticalScale = "Vertical Scale";
inline constexpr const char* kBuddyPlaceholder = "Static";
inline constexpr const char* kSource2Right = "<-1  src 2  ->";
inline constexpr const char* kSource1Right = "<-2  src 1  ->";
inline constexpr const char* kSource2Up = "src 2 up ";
inline constexpr const char* kSource1Up = "src 1 up ";

}  // namespace tessara::dialog_text
