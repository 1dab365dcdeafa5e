// Ardour 7 as the host: a session saved with the plug-in's state chunk (changed on disk, so that a restore that
// did nothing would show) is loaded by a new Ardour process, which saves the chunk back byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "src/StateChunk.h"
#include "src/VexmirParams.h"
#include "tests/daw/daw_support.h"

using namespace dawtest;

TEST_F(ArdourSession, ASavedSessionRestoresTheStateChunkByteForByteInANewProcess) {
  int status = 0;
  const std::string so = (bundlePath / "Contents/Linux/Vexmir Editor.so").string();
  const std::string scan =
      run(env + "env LD_LIBRARY_PATH=/usr/lib/ardour7 timeout 120 " + kScanner + " -f '" + so + "'", &status);
  ASSERT_NE(scan.find("Found Plugin"), std::string::npos) << scan;

  const std::string sessionDir = (dir / "session").string();
  std::string out = lua("create.lua", "create_session(\"" + sessionDir +
                                          "\", \"vexmir\", 48000)\n"
                                          "local proc = ARDOUR.LuaAPI.new_plugin(Session, \"Vexmir Editor\", "
                                          "ARDOUR.PluginType.LXVST, \"\")\n"
                                          "assert(not proc:isnil(), \"plug-in not found\")\n"
                                          "local tracks = Session:new_audio_track(2, 2, nil, 1, \"Synth\", "
                                          "ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)\n"
                                          "for t in tracks:iter() do t:add_processor_by_index(proc, 0, nil, true) end\n"
                                          "Session:save_state(\"\", false, false, false, false, false)\n");
  ASSERT_NE(out.find("closed"), std::string::npos) << out;

  // The saved chunk is ours: the header and a state body behind it. Two values are changed on disk.
  const fs::path file = dir / "session/vexmir.ardour";
  std::string xml = readText(file);
  size_t begin = 0, end = 0;
  ASSERT_TRUE(findChunk(xml, &begin, &end)) << xml.substr(0, 2000);
  std::vector<uint8_t> saved = fromBase64(xml.substr(begin, end - begin));
  ASSERT_GT(saved.size(), 8u);
  ASSERT_EQ(std::vector<uint8_t>(saved.begin(), saved.begin() + 8),
            (std::vector<uint8_t>{0x74, 0x66, 0x66, 0x70, 0x00, 0x00, 0x01, 0x00}));
  ByteChunk body;
  body.PutBytes(saved.data() + 8, static_cast<int>(saved.size() - 8));
  PluginState state;
  ASSERT_EQ(readStateBody(body, 0, true, &state), body.Size());
  state.quickTab = 1;
  state.values[kFilterCutoff] = 17;
  state.values[kFilterCutoff + 1] = 101;
  ByteChunk changedBody;
  writeStateBody(&changedBody, state, true);
  std::vector<uint8_t> changed(saved.begin(), saved.begin() + 8);
  changed.insert(changed.end(), changedBody.GetBytes(), changedBody.GetBytes() + changedBody.Size());
  ASSERT_NE(changed, saved);
  xml.replace(begin, end - begin, toBase64(changed));
  std::ofstream(file, std::ios::trunc) << xml;

  out = lua("reload.lua", "load_session(\"" + sessionDir +
                              "\", \"vexmir\")\n"
                              "Session:save_state(\"\", false, false, false, false, false)\n");
  ASSERT_NE(out.find("closed"), std::string::npos) << out;
  EXPECT_EQ(out.find("unknown plug-in"), std::string::npos) << out;
  const std::string reloaded = readText(file);
  ASSERT_TRUE(findChunk(reloaded, &begin, &end));
  const std::vector<uint8_t> back = fromBase64(reloaded.substr(begin, end - begin));
  size_t first = 0;
  while (first < back.size() && first < changed.size() && back[first] == changed[first]) ++first;
  EXPECT_EQ(back.size(), changed.size());
  EXPECT_EQ(first, changed.size()) << "the chunk saved after the reload first differs at byte " << first;
}
