#pragma once
// The network layer's use of the data set codec and of the transfer syntax conversion.
#include <cstdint>
#include <string>
#include <vector>

class DcmObj;

// Encodes the data set in its own transfer syntax (BufData::WriteObj).
void EncodeDataSet(DcmObj& obj, std::vector<uint8_t>& bytes);
// Decodes a received message into obj, whose transferSyntax and explicitVR are already set.
bool DecodeDataSet(const std::vector<uint8_t>& bytes, DcmObj& obj);
// Between implicit and explicit VR little endian only the label changes: true when obj is in one of
// them and target is the other (obj relabelled), false otherwise (obj unchanged).
bool RelabelNativeLittleEndian(DcmObj& obj, const std::string& target);
// Brings an image data set into the target transfer syntax; false (logged) when it cannot.
bool ConvertForSending(DcmObj& obj, const std::string& target);
// The text dump of a data set (DcmObj::Dump at depth 0).
void DumpDataSet(const DcmObj& obj, std::vector<std::string>& lines);
