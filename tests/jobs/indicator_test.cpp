// The librarian status glue on the real editor: the processing indicator with one Cancel button for the tab
// shown, the layers it hides and shows again, and the librarian request and unsaved states.
#include <gtest/gtest.h>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IControl.h"
#include "job_plug.h"
#include "src/ProgressIndicator.h"
#include "src/UIConfigManager.h"

using namespace jobtest;

namespace {

bool layerShown(Vexmir& plug, const char* name) {
  ControlLayer* layer = plug.getUIConfig()->getLayer(name);
  return layer && layer->isVisible();
}

}  // namespace

TEST(ProcessingIndicator, ShowsOneCancelButtonForTheTabAndRestoresTheLayersAfterwards) {
  const struct {
    int tab;
    int button;  // the Cancel button shown: 0 the librarian's, 1 the general one
  } rows[] = {{1, 0}, {2, 1}, {3, 1}, {4, 1}};
  for (const auto& row : rows) {
    JobPlug plug;
    ASSERT_NE(plug.getCancelButton(0), nullptr);
    ASSERT_NE(plug.getCancelButton(1), nullptr);
    plug.storeParamValue(kMainTab, row.tab);
    plug.DisplayProcessingIndicator(true);
    EXPECT_TRUE(plug.isProcessingIndicatorShown());
    EXPECT_FALSE(plug.getProgressIndicator()->IsHidden()) << row.tab;
    EXPECT_TRUE(layerShown(plug, "PROGRESS")) << row.tab;
    EXPECT_FALSE(plug.getCancelButton(row.button)->IsHidden()) << row.tab;
    EXPECT_TRUE(plug.getCancelButton(1 - row.button)->IsHidden()) << row.tab;
    EXPECT_FALSE(layerShown(plug, "releaseAllLocksLayer"));
    if (row.tab == 1) {
      EXPECT_FALSE(layerShown(plug, "searchField"));
    }

    // With a lock on, the lock button comes back on the sound pages, never over the librarian's bank chooser.
    plug.commonLockActive = true;
    plug.DisplayProcessingIndicator(false);
    EXPECT_FALSE(plug.isProcessingIndicatorShown());
    EXPECT_TRUE(plug.getProgressIndicator()->IsHidden());
    EXPECT_FALSE(layerShown(plug, "PROGRESS"));
    EXPECT_TRUE(plug.getCancelButton(0)->IsHidden());
    EXPECT_TRUE(plug.getCancelButton(1)->IsHidden());
    EXPECT_EQ(layerShown(plug, "releaseAllLocksLayer"), row.tab != 1) << row.tab;
    if (row.tab == 4) {
      EXPECT_TRUE(layerShown(plug, "midiSettingsButton"));
    }
    EXPECT_FALSE(plug.getMidiManager()->dumpPending);
  }
}

TEST(LibrarianStatus, RequestAndUnsavedStatesSetTheirFlags) {
  JobPlug plug;
  MIDIMessageManager* hub = plug.getMidiManager();
  hub->singleRequest.arm();
  const std::vector<uint8_t> stale(20, 0x11);
  hub->singleRequest.addMessageData(stale.data(), static_cast<int>(stale.size()));
  plug.answerReceived = true;
  plug.SetLibrarianRequestActive(true);
  EXPECT_TRUE(hub->singleRequest.active);
  EXPECT_TRUE(hub->singleRequest.program().messages.empty());
  EXPECT_FALSE(hub->dumpPending);
  EXPECT_FALSE(plug.answerReceived);

  plug.SetLibrarianStatusUnsaved(true);
  EXPECT_FALSE(hub->singleRequest.active);
  EXPECT_FALSE(hub->dumpPending);
  EXPECT_EQ(plug.paramValue(kBankEditUnsaved), 1.0);
  EXPECT_EQ(plug.paramValue(kDiscardBankData), 0.0);

  plug.SetLibrarianRequestActive(false);
  EXPECT_TRUE(hub->dumpPending);
  EXPECT_FALSE(hub->singleRequest.active);
}
