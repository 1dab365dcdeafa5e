// Reset and the audio callback's timing work: transport edges, queued MIDI, all notes off after a reset, the
// host tempo and the MIDI indicators' time-outs. The plug-in produces no sound.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "KIT/IEffect/IGraphics.h"
#include "src/MIDIMessageManager.h"
#include "src/Vexmir.h"

namespace {
// The arpeggiator tempo parameter is an index into the tempo list, whose first entry is 20 BPM (the program
// dump codes the tempo as index + 20 too).
constexpr int kArpTempoOffset = 20;

int toIntClamped(double v, int lo, int hi) {
  if (!(v >= lo)) return lo;  // NaN too
  if (v > hi) return hi;
  return static_cast<int>(v);
}
}  // namespace

// The delay the host's buffer adds to the MIDI sent through it; MIDI sent straight to the port has none.
void Vexmir::showMidiOutDelay() {
  if (!GetGUI()) return;
  if (!midiOutViaAudioQueue) {
    displayMIDIOutDelay("0ms|direct");
    return;
  }
  if (!(sampleRate > 0.0)) return;
  const int steps = queueStepsPerBlock < 1 ? 1 : queueStepsPerBlock;
  char text[64];
  std::snprintf(text, sizeof text, "%dms|%dbfr", toIntClamped(1000.0 / (sampleRate / steps), 0, 1000000),
                GetBlockSize());
  displayMIDIOutDelay(text);
}

void Vexmir::Reset() {
  KIT_MutexLock lock(mMutex);
  double rate = GetSampleRate();
  if (rate != sampleRate) sampleRate = rate;
  int block = GetBlockSize();
  {
    std::lock_guard<std::mutex> qlock(midiQueueLock);
    if (block > 0) midiQueue.Resize(block);
  }
  allSoundsOffPending = true;
  if (queueStepsPerBlock == 0) queueStepsPerBlock = block;

  char version[64];
  GetEffectVersionStr(version);
  char rateText[64];
  std::snprintf(rateText, sizeof rateText, "%g", sampleRate);
  log(std::string("RESET: Host sample rate ") + rateText + "Hz");
  log(std::string("RESET: plug-in ") + version);

  if (!deviceBusy) {
    displayStatus("Korg Vexmir Plug-in");
    displayValue(std::string(version) + (isDebugLogOn() ? " 10-Oct-2020" : ""));
    displayTimbre(static_cast<int>(paramValue(kQuickTab)) != 0 ? "[TIMBRE 2]" : "[TIMBRE 1]");
    displayBuild(version);
    displayCC("---");
  }
  showMidiOutDelay();
}

void Vexmir::ProcessDoubleReplacing(double**, double**, int nFrames) {
  // The binding holds the plug-in mutex already; taking it here keeps its order before the queue's lock for any
  // caller.
  KIT_MutexLock lock(mMutex);
  GetTime(&timeInfo);
  if (!midiOutReady) return;
  const bool running = timeInfo.mTransportIsRunning;

  if (recallSendPending && midiManager && !midiManager->isWorkerBusy(MidiWorker::kJobThread)) {
    recallSendPending = false;
    startRecalledProgramSend();
  }

  if (running && !transportWasRunning) {
    transportWasRunning = true;
    if (!midiOutViaAudioQueue && !clockStartSent) {
      if (midiManager && !midiManager->isWorkerBusy(MidiWorker::kClockControlThread)) {
        SenderJob job;
        job.job = kJobStartClock;
        midiManager->startJob(MidiWorker::kClockControlThread, job);
      }
      clockStartSent = true;
    }
  } else if (!running && transportWasRunning) {
    transportWasRunning = false;
    if (!midiOutViaAudioQueue && clockStartSent) {
      if (midiManager && !midiManager->isWorkerBusy(MidiWorker::kClockControlThread)) {
        SenderJob job;
        job.job = kJobStopClock;
        midiManager->startJob(MidiWorker::kClockControlThread, job);
      }
      clockStartSent = false;
    }
  }

  // A loop that was told to stop may still be winding down: the clock starts again only once its thread is
  // free, so that a block right after the switch-off cannot re-arm the old loop before it has seen the stop.
  if (!continuousClockStarted && midiManager && !midiManager->isWorkerBusy(MidiWorker::kClockThread)) {
    midiManager->getSender()->resetContinuousClock(false);
    SenderJob job;
    job.job = kJobContinuousClock;
    job.tempo = 120;
    midiManager->startJob(MidiWorker::kClockThread, job);
    continuousClockStarted = true;
  }

  if (paramValue(kOverrideTempo) == 1.0) {
    const int t = toIntClamped(GetTempo(), 0, 100000);
    const int v = std::max(0, t - kArpTempoOffset);
    if (v != lastHostTempoValue) {
      lastHostTempoValue = v;
      hostTempoSynced = false;
      log("PROCESSOR: Host tempo is out of sync!");
    }
    if (!hostTempoSynced) {
      hostTempoSynced = true;
      log("PROCESSOR: Host tempo synced to " + std::to_string(t) + "BPM");
      if (IGraphics* g = GetGUI())
        g->SetParameterFromPlug(kArpTempo, v, false);
      else
        storeParamValue(kArpTempo, v);
    }
  }

  int steps = nFrames;
  if (midiOutViaAudioQueue) {
    steps = queueStepsPerBlock < 1 ? 1 : queueStepsPerBlock;
    showMidiOutDelay();
  }

  IGraphics* g = GetGUI();
  {
    std::lock_guard<std::mutex> qlock(midiQueueLock);
    for (int i = 0; i < steps; ++i) {
      while (!midiQueue.Empty() && midiQueue.Peek()->mOffset <= i) {
        if (midiOutViaAudioQueue) sendMidiMsgAndLog(midiQueue.Peek());
        midiQueue.Remove();
      }
      if (!running && allSoundsOffPending) {
        allSoundsOffPending = false;
        allNotesOff(true);
        for (int t = 0; t < 2; ++t)
          if (midiLedOn[t]) {
            midiLedOn[t] = 0;
            if (g) g->SetParameterFromPlug(kMIDILed + t, 0.0, false);
          }
      }
      if (g) {
        for (int t = 0; t < 2; ++t) {
          if (!midiLedOn[t]) continue;
          // Unsigned arithmetic, so the wrap of the tick counter is harmless.
          if (static_cast<uint32_t>(ticks() - midiLedTime[t]) > 100u) {
            midiLedOn[t] = 0;
            g->SetParameterFromPlug(kMIDILed + t, 0.0, false);
          }
        }
      }
    }
    midiQueue.Flush(steps);
  }

  if (partRequestPending && midiManager && !midiManager->isWorkerBusy(MidiWorker::kJobThread)) {
    SenderJob job;
    job.job = kJobPartRequest;
    job.toEditor = true;
    if (midiManager->startJob(MidiWorker::kJobThread, job)) partRequestPending = false;
  }
}
