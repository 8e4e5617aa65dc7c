#pragma once
// The transfer syntaxes the toolkit knows: one row each, asked by every layer. Their UIDs are
// written here and nowhere else; code names them by these constants.
#include <cstddef>
#include <string_view>

inline constexpr char kTsImplicitLE[] = "1.2.840.10008.1.2";
inline constexpr char kTsExplicitLE[] = "1.2.840.10008.1.2.1";
inline constexpr char kTsExplicitBE[] = "1.2.840.10008.1.2.2";
inline constexpr char kTsDeflatedLE[] = "1.2.840.10008.1.2.1.99";  // explicit VR little endian, deflated
inline constexpr char kTsRLE[] = "1.2.840.10008.1.2.5";
inline constexpr char kTsJpegBaseline[] = "1.2.840.10008.1.2.4.50";
inline constexpr char kTsJpegExtended[] = "1.2.840.10008.1.2.4.51";
inline constexpr char kTsJpegLossless14[] = "1.2.840.10008.1.2.4.57";  // process 14, any predictor
inline constexpr char kTsJpegLossless[] = "1.2.840.10008.1.2.4.70";    // process 14, predictor 1
inline constexpr char kTsJ2KLossless[] = "1.2.840.10008.1.2.4.90";
inline constexpr char kTsJ2K[] = "1.2.840.10008.1.2.4.91";
inline constexpr char kTsMpeg2[] = "1.2.840.10008.1.2.4.100";

struct TransferSyntax {
  const char* uid;
  bool explicitVR;
  bool bigEndian;
  bool encapsulated;  // pixel data in fragments
  bool lossy;
  bool deflated = false;  // the data set after the meta group is raw deflate data
};

// The known syntaxes, in the order the UID tables list them.
inline constexpr TransferSyntax kTransferSyntaxes[] = {
    {kTsImplicitLE, false, false, false, false},   {kTsExplicitLE, true, false, false, false},
    {kTsExplicitBE, true, true, false, false},     {kTsDeflatedLE, true, false, false, false, true},
    {kTsRLE, true, false, true, false},
    {kTsJpegLossless, true, false, true, false},   {kTsJpegBaseline, true, false, true, true},
    {kTsJpegExtended, true, false, true, true},    {kTsJpegLossless14, true, false, true, false},
    {kTsJ2KLossless, true, false, true, false},    {kTsJ2K, true, false, true, true},
    {kTsMpeg2, true, false, true, true},
};
inline constexpr size_t kTransferSyntaxCount = sizeof(kTransferSyntaxes) / sizeof(kTransferSyntaxes[0]);

// The row of a UID (compared exactly over the whole text), or nullptr when the toolkit does not know it.
inline const TransferSyntax* FindTransferSyntax(std::string_view uid) {
  for (const TransferSyntax& ts : kTransferSyntaxes)
    if (uid == ts.uid) return &ts;
  return nullptr;
}
