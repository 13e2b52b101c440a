// Internal: what the capture graph builder needs of the filter graph and of the graph's own filters.
#pragma once

#include "platform/media/graph/filterbase.h"

#include <memory>
#include <vector>

namespace orv::media {

// The filters of one of our graphs, in the order they were added (empty for a foreign graph).
std::vector<ComPtr<IBaseFilter>> GraphFilters(IFilterGraph* graph);

// What a graph's filters measure for its ISignalLevels (null for a foreign graph or none).
class LevelsTap;
std::shared_ptr<LevelsTap> LevelsTapOf(IFilterGraph* graph);

// The graph's own filters. The renderer's window and the file writing come with the streaming
// engine; these carry the connections and the settings the capture engine gives them.
ComPtr<IBaseFilter> NewVideoRenderer();
ComPtr<IBaseFilter> NewSoundRenderer();  // ISoundOutput
ComPtr<IBaseFilter> NewSmartTee();
ComPtr<IBaseFilter> NewAviMux(bool matroska = false);  // writes Matroska rather than AVI
ComPtr<IBaseFilter> NewFileWriter();

}  // namespace orv::media
