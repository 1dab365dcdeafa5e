#include "KIT/IEffect/Hosts.h"

#include <cstring>
#include <string>

#include "KIT/IEffect/Log.h"

namespace {

struct HostMatch {
  const char* substring;
  EHost host;
};

// Tested in this order; the first match wins ("live" would otherwise catch longer names).
const HostMatch kHostMatches[] = {
    {"cubase", kHostCubase},
    {"reaper", kHostReaper},
    {"nuendo", kHostNuendo},
    {"cakewalk", kHostSonar},
    {"samplitude", kHostSamplitude},
    {"fruity", kHostFL},
    {"live", kHostAbletonLive},
    {"melodyne", kHostMelodyneStudio},
    {"vstmanlib", kHostVSTScanner},
    {"aulab", kHostAULab},
    {"garageband", kHostGarageBand},
    {"forte", kHostForte},
    {"chainer", kHostChainer},
    {"audition", kHostAudition},
    {"orion", kHostOrion},
    {"sawstudio", kHostSAWStudio},
    {"logic", kHostLogic},
    {"digital", kHostDigitalPerformer},
    {"audiomulch", kHostAudioMulch},
    {"presonus", kHostStudioOne},
    {"vst3plugintesthost", kHostVST3TestHost},
    {"protools", kHostProTools},
    {"ardour", kHostArdour},
    {"standalone", kHostStandalone},
};

}  // namespace

EHost LookUpHost(const char* productString) {
  if (!productString) return kHostUnknown;
  std::string lower(std::strlen(productString), '\0');
  ToLower(&lower[0], productString);
  lower.resize(std::strlen(lower.c_str()));
  for (const HostMatch& m : kHostMatches)
    if (lower.find(m.substring) != std::string::npos) return m.host;
  return kHostUnknown;
}

void GetHostNameStr(EHost host, char* out) {
  if (!out) return;
  const char* name = "Unknown";
  switch (host) {
    case kHostReaper:
      name = "Reaper";
      break;
    case kHostProTools:
      name = "ProTools";
      break;
    case kHostCubase:
      name = "Cubase";
      break;
    case kHostNuendo:
      name = "Nuendo";
      break;
    case kHostSonar:
      name = "Sonar";
      break;
    case kHostVegas:
      name = "Vegas";
      break;
    case kHostFL:
      name = "FLStudio";
      break;
    case kHostSamplitude:
      name = "Samplitude";
      break;
    case kHostAbletonLive:
      name = "Live";
      break;
    case kHostVSTScanner:
      name = "VSTScanner";
      break;
    case kHostAULab:
      name = "AULab";
      break;
    case kHostForte:
      name = "Forte";
      break;
    case kHostChainer:
      name = "Chainer";
      break;
    case kHostAudition:
      name = "Audition";
      break;
    case kHostOrion:
      name = "Orion";
      break;
    case kHostSAWStudio:
      name = "SAWStudio";
      break;
    case kHostLogic:
      name = "Logic";
      break;
    case kHostGarageBand:
      name = "GarageBand";
      break;
    case kHostDigitalPerformer:
      name = "DigitalPerformer";
      break;
    case kHostStandalone:
      name = "Standalone";
      break;
    case kHostAudioMulch:
      name = "AudioMulch";
      break;
    case kHostStudioOne:
      name = "StudioOne";
      break;
    case kHostVST3TestHost:
      name = "VST3PluginTestHost";
      break;
    case kHostArdour:
      name = "Ardour";
      break;
    default:
      break;
  }
  std::strcpy(out, name);
}
