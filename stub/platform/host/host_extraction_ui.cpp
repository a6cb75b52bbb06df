// The host platform's answers to what the engine asks of the user interface
// (platform/extraction_ui.h): the message pump answers from a queue the test
// fills, and the status line and the meter are recorded (host_control.h),
// not shown.
#include "platform/host/host_extraction_ui.h"

#include "base/sfx_state.h"
#include "container/message_table.h"
#include "platform/extraction_ui.h"
#include "platform/host/host_control.h"
#include "util/path_text.h"

namespace {

struct ExtractionUiRecord {
  std::vector<bool> pumpAnswers;
  size_t nextPumpAnswer = 0;
  std::vector<UINT> meterPositions;
  std::vector<std::string> statusLines;
};

ExtractionUiRecord TheRecord;

}  // namespace

void ExtractionUiReset() { TheRecord = ExtractionUiRecord(); }

void HostQueuePumpAnswers(const std::vector<bool>& answers) {
  TheRecord.pumpAnswers = answers;
  TheRecord.nextPumpAnswer = 0;
}
const std::vector<UINT>& HostMeterPositions() { return TheRecord.meterPositions; }
const std::vector<std::string>& HostStatusLines() { return TheRecord.statusLines; }

bool PumpMessages() {
  return TheRecord.nextPumpAnswer < TheRecord.pumpAnswers.size() && TheRecord.pumpAnswers[TheRecord.nextPumpAnswer++];
}

// As on Windows: the table's "Unzipping" text, unless the meter shows it.
void ShowUnzippingStatus() {
  if (Sfx.MeterShown || !HostRecording()) return;
  char text[kPathBufferSize + 16];
  wsprintfA(text, MsgText(MsgUnzippingFile), FileNamePart(Sfx.EntryPath));
  TheRecord.statusLines.push_back(text);
}

void MoveMeter(DWORD position) {
  if (HostRecording()) TheRecord.meterPositions.push_back(position & 0xFFFF);
}

void RepaintMeter() {}
