#pragma once
// Test helpers of the query clients: a captured log, DICOM files made from text dumps, and the
// real query peers (dcmqrscp, wlmscpfs, Orthanc) started on free loopback ports.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/dcmobj.h"
#include "core/log.h"
#include "net/dimse.h"
#include "net/pdu_service.h"
#include "tests/support/log_capture.h"
#include "tests/support/orthanc.h"
#include "tests/support/peer.h"

namespace querytest {

using testsupport::FindProgram;
using testsupport::FreePort;
using testsupport::MakeTempDir;
using testsupport::Process;
using testsupport::RemoveTree;
using testsupport::Run;
using testsupport::WaitForPort;
using testsupport::Orthanc;
using testsupport::TempDir;

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// A temporary folder removed at the end of the scope.
// A program the test needs; a missing peer fails the test.
inline std::string Need(const std::string& name) {
  std::string p = FindProgram(name);
  if (p.empty() && ::access(("/usr/sbin/" + name).c_str(), X_OK) == 0) p = "/usr/sbin/" + name;
  EXPECT_FALSE(p.empty()) << name << " is not installed (scripts/install-deps --test)";
  return p;
}

// Writes a DCMTK text dump (8-bit text, cp1252 values) and turns it into a file with dump2dcm.
inline bool MakeDicom(const std::string& dumpText, const std::string& outPath, bool fileFormat = true) {
  std::string dump = outPath + ".dump";
  WriteFile(dump, dumpText);
  std::vector<std::string> argv = {Need("dump2dcm")};
  if (!fileFormat) argv.push_back("-F");  // data set only, as worklist files are read either way
  argv.push_back(dump);
  argv.push_back(outPath);
  std::string out;
  int rc = Run(argv, &out);
  EXPECT_EQ(rc, 0) << out;
  return rc == 0;
}

// The dump of a small secondary capture image of one study.
struct StudyObject {
  std::string studyUID, seriesUID, sopUID;
  std::string patientName, patientID, birthDate, sex;
  std::string studyDate, studyTime, accession, description, modality;
  std::string referring;
};

inline std::string StudyDump(const StudyObject& o) {
  std::ostringstream d;
  d << "(0002,0001) OB 00\\01\n"
    << "(0002,0002) UI =SecondaryCaptureImageStorage\n"
    << "(0002,0003) UI " << o.sopUID << "\n"
    << "(0002,0010) UI =LittleEndianExplicit\n"
    << "(0008,0005) CS [ISO_IR 100]\n"
    << "(0008,0016) UI =SecondaryCaptureImageStorage\n"
    << "(0008,0018) UI " << o.sopUID << "\n"
    << "(0008,0020) DA [" << o.studyDate << "]\n"
    << "(0008,0030) TM [" << o.studyTime << "]\n"
    << "(0008,0050) SH [" << o.accession << "]\n"
    << "(0008,0060) CS [" << o.modality << "]\n"
    << "(0008,0090) PN [" << o.referring << "]\n"
    << "(0008,1030) LO [" << o.description << "]\n"
    << "(0010,0010) PN [" << o.patientName << "]\n"
    << "(0010,0020) LO [" << o.patientID << "]\n"
    << "(0010,0030) DA [" << o.birthDate << "]\n"
    << "(0010,0040) CS [" << o.sex << "]\n"
    << "(0020,000d) UI " << o.studyUID << "\n"
    << "(0020,000e) UI " << o.seriesUID << "\n"
    << "(0020,0010) SH [S1]\n"
    << "(0020,0011) IS [1]\n"
    << "(0020,0013) IS [1]\n"
    << "(0028,0002) US 1\n"
    << "(0028,0004) CS [MONOCHROME2]\n"
    << "(0028,0010) US 2\n"
    << "(0028,0011) US 2\n"
    << "(0028,0100) US 8\n"
    << "(0028,0101) US 8\n"
    << "(0028,0102) US 7\n"
    << "(0028,0103) US 0\n"
    << "(7fe0,0010) OB 00\\01\\02\\03\n";
  return d.str();
}

// Stores files with DCMTK storescu.
inline bool StoreFiles(const std::vector<std::string>& files, const std::string& aet, int port) {
  std::vector<std::string> argv = {Need("storescu"), "-aec", aet, "127.0.0.1", std::to_string(port)};
  argv.insert(argv.end(), files.begin(), files.end());
  std::string out;
  int rc = Run(argv, &out);
  EXPECT_EQ(rc, 0) << out;
  return rc == 0;
}

// Three studies: two on 12 March 2015 (one CT, one MR), one the day after.
inline std::vector<StudyObject> Studies() {
  StudyObject a{"1.2.826.0.1.3680043.9.7001.1", "1.2.826.0.1.3680043.9.7001.1.2", "1.2.826.0.1.3680043.9.7001.1.1",
                "M\xFCller^Hans", "PID1", "19600101", "M", "20150312", "101500", "ACC1", "Thorax \xE9t\xE9", "CT",
                "Ref^Doc"};
  StudyObject b{"1.2.826.0.1.3680043.9.7001.2", "1.2.826.0.1.3680043.9.7001.2.2", "1.2.826.0.1.3680043.9.7001.2.1",
                "Adams^Zoe", "PID2", "19751224", "F", "20150312", "143000", "ACC2", "Knee", "MR", ""};
  StudyObject c{"1.2.826.0.1.3680043.9.7001.3", "1.2.826.0.1.3680043.9.7001.3.2", "1.2.826.0.1.3680043.9.7001.3.1",
                "Smith^John", "PID3", "19800505", "M", "20150313", "090000", "ACC3", "Head", "CT", ""};
  return {a, b, c};
}

// Part 10 files of the studies (Studies() unless given) in dir.
inline std::vector<std::string> MakeStudyFiles(const std::string& dir, const std::vector<StudyObject>& studies = Studies()) {
  std::vector<std::string> files;
  int i = 0;
  for (const auto& s : studies) {
    std::string f = dir + "/study" + std::to_string(++i) + ".dcm";
    if (MakeDicom(StudyDump(s), f)) files.push_back(f);
  }
  return files;
}

// Stores the files with our own C-STORE, one association per file's class.
inline bool StoreOurselves(const std::vector<std::string>& files, const std::string& aet, int port) {
  int sent = 0;
  for (const auto& f : files) {
    DcmObj obj;
    if (!obj.Read(f)) continue;
    std::string sop = obj.GetString(0x0008, 0x0016);
    PDU_Service pdu;
    if (OpenAssociation(pdu, "SCRIVARA", aet, "127.0.0.1", std::to_string(port), sop, "1.2.840.10008.1.2.1", "", 10) &&
        StoreSCU(pdu, obj, sop) == 0 && CStore::ReadRSP(&pdu) == 0)
      ++sent;
    pdu.Close();
  }
  return sent == int(files.size());
}

// Worklist entries as text dumps: patient, request and one or two scheduled steps.
struct Step {
  std::string modality, date, time, id, description, station = "STATION1", location = "Room 1";
};
struct Entry {
  std::string name, id, birthDate, sex, accession, studyUID, requestedDescription;
  std::vector<Step> steps;
  std::string charset = "ISO_IR 100";  // the file's Specific Character Set; its values are in it
};

inline std::string WorklistDump(const Entry& e) {
  std::string d = "(0008,0005) CS [" + e.charset + "]\n(0008,0050) SH [" + e.accession + "]\n"
                  "(0008,0090) PN [Ref^Doc]\n(0010,0010) PN [" + e.name + "]\n(0010,0020) LO [" + e.id + "]\n";
  if (!e.birthDate.empty()) d += "(0010,0030) DA [" + e.birthDate + "]\n";
  d += "(0010,0040) CS [" + e.sex + "]\n(0020,000d) UI " + e.studyUID + "\n(0032,1032) PN [Req^Doc]\n"
       "(0032,1060) LO [" + e.requestedDescription + "]\n(0040,0100) SQ (Sequence with undefined length)\n";
  for (const auto& s : e.steps)
    d += "(fffe,e000) na (Item with undefined length)\n(0008,0060) CS [" + s.modality +
         "]\n(0032,1070) LO [None]\n(0040,0001) AE [CT01]\n(0040,0002) DA [" + s.date + "]\n(0040,0003) TM [" + s.time +
         "]\n(0040,0006) PN [Perf^Doc]\n(0040,0007) LO [" + s.description + "]\n(0040,0009) SH [" + s.id +
         "]\n(0040,0010) SH [" + s.station + "]\n(0040,0011) SH [" + s.location +
         "]\n(0040,0012) LO [none]\n(0040,0020) CS [SCHEDULED]\n(fffe,e00d) na (ItemDelimitationItem)\n";
  d += "(fffe,e0dd) na (SequenceDelimitationItem)\n(0040,1001) SH [RP-" + e.id + "]\n(0040,1003) SH [HIGH]\n";
  return d;
}

// Several entries: cp1252 values, one without birth date, two on another day.
inline std::vector<Entry> Worklist() {
  return {
      {"D\xFCrer^Albrecht", "WL1", "19700203", "M", "WACC1", "1.2.826.0.1.3680043.9.7002.1", "CT Thorax \xE0 jeun",
       {{"CT", "20150312", "0900", "SPS1", "Thorax native"}}},
      {"Nobirth^Nina", "WL2", "", "F", "WACC2", "1.2.826.0.1.3680043.9.7002.2", "MR Knee",
       {{"MR", "20150312", "1000", "SPS2", "Knee left"}}},
      {"SMITH^JOHN", "WL3", "19500101", "M", "WACC3", "1.2.826.0.1.3680043.9.7002.3", "CT Head",
       {{"CT", "20150312", "1100", "SPS3", "Head"}}},
      {"Later^Larry", "WL4", "19900101", "M", "WACC4", "1.2.826.0.1.3680043.9.7002.4", "CT Abdomen",
       {{"CT", "20150313", "0800", "SPS4", "Abdomen"}}},
  };
}

// DCMTK dcmqrscp with one storage area for the AE title QRSCP, in its default fork mode.
struct Dcmqrscp {
  TempDir dir{"scrivara_qr"};
  int port = FreePort();
  Process process;
  bool Start() {
    std::string db = dir.path + "/db";
    std::string mk;
    Run({"mkdir", "-p", db}, &mk);
    std::string cfg = dir.path + "/dcmqrscp.cfg";
    WriteFile(cfg, "NetworkTCPPort = " + std::to_string(port) +
                       "\nMaxPDUSize = 16384\nMaxAssociations = 16\n"
                       "HostTable BEGIN\nHostTable END\nVendorTable BEGIN\nVendorTable END\n"
                       "AETable BEGIN\nQRSCP " + db + " RW (200, 1024mb) ANY\nAETable END\n");
    process = Process({Need("dcmqrscp"), "-c", cfg}, dir.path + "/dcmqrscp.log");
    return WaitForPort(port);
  }
};

// DCMTK wlmscpfs serving the worklist files of dir/<aet>/.
struct Wlmscpfs {
  TempDir dir{"scrivara_wl"};
  int port = FreePort();
  Process process;
  std::string Folder(const std::string& aet) {
    std::string f = dir.path + "/" + aet;
    std::string mk;
    Run({"mkdir", "-p", f}, &mk);
    WriteFile(f + "/lockfile", "");
    return f;
  }
  bool Start() {
    process = Process({Need("wlmscpfs"), "-dfp", dir.path, std::to_string(port)}, dir.path + "/wlmscpfs.log");
    return WaitForPort(port);
  }
};

// DCMTK storescp accepting every transfer syntax, writing what arrives to dir/in.
struct Storescp {
  TempDir dir{"scrivara_storescp"};
  int port = FreePort();
  Process process;
  std::string In() const { return dir.path + "/in"; }
  bool Start() {
    std::string mk;
    Run({"mkdir", "-p", In()}, &mk);
    process = Process({Need("storescp"), "--fork", "+xa", "-pm", "-aet", "STORESCP", "-od", In(), "-fe", ".dcm",
                       std::to_string(port)},
                      dir.path + "/storescp.log");
    return WaitForPort(port);
  }
  // The files that have arrived, waiting up to 5 s for n of them (a forked child writes each).
  std::vector<std::string> Received(size_t n) {
    std::vector<std::string> files;
    for (int i = 0; i < 100; ++i) {
      files.clear();
      std::string out;
      Run({"find", In(), "-type", "f", "-name", "*.dcm"}, &out);
      std::istringstream lines(out);
      for (std::string l; std::getline(lines, l);)
        if (!l.empty()) files.push_back(l);
      if (files.size() >= n) break;
      usleep(50000);
    }
    return files;
  }
};

}  // namespace querytest
