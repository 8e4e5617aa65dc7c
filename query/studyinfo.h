#pragma once
// Records of the study-root C-FIND (STUDY, SERIES, IMAGE levels) and of the Modality Worklist
// C-FIND. Each record serves both as the query keys sent and as one result. Texts are bytes in the
// record's Specific Character Set (as a server sent them, or as the typed rule wrote them; see
// query/studytext.h), empty at construction; integers are 0 until set.
#include <cstdint>
#include <string>

// One study. The program-wide instance is CurrentStudy, filled by the main window.
struct StudyInfo {
  std::string StudyInstanceUID;        // (0020,000D)
  std::string StudyDate;               // (0008,0020) "yyyymmdd" or a range "yyyymmdd-yyyymmdd"
  std::string StudyTime;               // (0008,0030)
  std::string StudyID;                 // (0020,0010) at most 16 characters from a response
  std::string StudyDescription;        // (0008,1030) at most 64
  std::string AccessionNumber;         // (0008,0050) at most 16
  std::string InstitutionName;         // (0008,0080) at most 64
  std::string ReferringPhysicianName;  // (0008,0090)
  // (0008,0061), or Modality (0008,0060) when that comes later in a response. The converters
  // read the study's modality from here (the main window writes it on Scan).
  std::string ModalitiesInStudy;
  std::string OperatorsName;     // (0008,1070) at most 64
  std::string PatientID;         // (0010,0020)
  std::string PatientName;       // (0010,0010) at most 64
  std::string PatientBirthDate;  // (0010,0030) "yyyymmdd"
  std::string PatientSex;        // (0010,0040)
  std::string PatientAge;        // (0010,1010)
  std::string PatientWeight;     // (0010,1030)
  std::string PatientComments;   // (0010,4000)
  // (0008,0005): the set the texts are in; empty for none (ASCII, or cp1252 from an archive that
  // declares nothing).
  std::string SpecificCharacterSet;

  // Sets every field to empty.
  void Clear() { *this = StudyInfo(); }
};

// One series (SERIES level).
struct SeriesInfo {
  std::string SeriesInstanceUID;    // (0020,000E)
  std::string SeriesNumber;         // (0020,0011)
  std::string SeriesDate;           // (0008,0021)
  std::string SeriesTime;           // (0008,0031)
  std::string SeriesDescription;    // (0008,103E)
  std::string Modality;             // (0008,0060)
  std::string PatientPosition;      // (0018,5100)
  std::string InstitutionName;      // (0008,0080)
  std::string OperatorsName;        // (0008,1070)
  std::string BodyPartExamined;     // (0018,0015)
  std::string ProtocolName;         // (0018,1030)
  std::string FrameOfReferenceUID;  // (0020,0052) response only
  std::string StudyInstanceUID;     // (0020,000D)

  void Clear() { *this = SeriesInfo(); }
};

// One instance (IMAGE level).
struct ImageInfo {
  std::string SOPInstanceUID;             // (0008,0018)
  std::string SOPClassUID;                // (0008,0016)
  std::string InstanceNumber;             // (0020,0013)
  std::string ContentDate;                // (0008,0023)
  std::string ContentTime;                // (0008,0033)
  std::string NumberOfFrames;             // (0028,0008) kept as received
  std::string AcquisitionDate;            // (0008,0022)
  std::string AcquisitionTime;            // (0008,0032)
  std::string AcquisitionNumber;          // (0020,0012)
  std::string SliceLocation;              // (0020,1041)
  uint16_t SamplesPerPixel = 0;           // (0028,0002) response only
  std::string PhotometricInterpretation;  // (0028,0004) response only
  uint16_t Rows = 0;                      // (0028,0010) response only
  uint16_t Columns = 0;                   // (0028,0011) response only
  uint16_t BitsStored = 0;                // (0028,0101) response only
  std::string ImageType;                  // (0008,0008)
  std::string PresentationIntentType;     // (0008,0068) response only
  std::string ImageOrientationPatient;    // (0020,0037)
  std::string ImagePositionPatient;       // (0020,0032)
  std::string SeriesInstanceUID;          // (0020,000E)
  std::string StudyInstanceUID;           // (0020,000D)
  std::string ConvolutionKernel;          // (0018,1210) response only, kept as received

  void Clear() { *this = ImageInfo(); }
};

// One scheduled procedure step of the Modality Worklist. The values of the Scheduled Procedure
// Step Sequence (0040,0100) item are held flat beside the top-level ones.
struct TWorklistItem {
  std::string PatientName;                        // (0010,0010)
  std::string PatientID;                          // (0010,0020)
  std::string PatientBirthDate;                   // (0010,0030)
  std::string PatientSex;                         // (0010,0040)
  std::string AccessionNumber;                    // (0008,0050)
  std::string ReferringPhysicianName;             // (0008,0090)
  std::string RequestingPhysician;                // (0032,1032)
  std::string Allergies;                          // (0010,2110)
  std::string StudyInstanceUID;                   // (0020,000D)
  std::string RequestedProcedureDescription;      // (0032,1060)
  std::string ScheduledProcedureStepStartTime;    // (0040,0003)
  std::string ScheduledProcedureStepStartDate;    // (0040,0002)
  std::string Modality;                           // (0008,0060)
  std::string ScheduledStationAETitle;            // (0040,0001)
  std::string ScheduledPerformingPhysicianName;   // (0040,0006)
  std::string RequestedContrastAgent;             // (0032,1070)
  std::string ScheduledProcedureStepID;           // (0040,0009)
  std::string ScheduledProcedureStepDescription;  // (0040,0007)
  std::string ScheduledStationName;               // (0040,0010)
  std::string ScheduledProcedureStepLocation;     // (0040,0011)
  std::string PreMedication;                      // (0040,0012)
  std::string ScheduledProcedureStepStatus;       // (0040,0020)
  std::string RequestedProcedureID;               // (0040,1001)
  std::string RequestedProcedurePriority;         // (0040,1003)
  std::string SpecificCharacterSet;               // (0008,0005), as for StudyInfo

  void Clear() { *this = TWorklistItem(); }
};
