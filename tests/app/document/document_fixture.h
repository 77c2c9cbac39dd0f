// Shared set-up of the document tests: a document on a recording host with a test part, a small
// height map handed over as the texture loader will, and fake pipeline runs that finish at once.
#pragma once

#include "tests/app/document/recording_host.h"

#include "app/document/grainforge_doc.h"
#include "engine/pipeline/async_pipeline.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

namespace grainforge::test {

struct DocumentFixture {
    RecordingHost host;
    std::unique_ptr<app::CGrainforgeDoc> doc = std::make_unique<app::CGrainforgeDoc>(host.Host());

    // The 20 mm test cube with a coarse surface grid, so that set-up stays quick.
    app::CGrainforgeDoc& WithCube()
    {
        doc->surfaceTestCells = 32;
        doc->OnFileTestShapeCube();
        return *doc;
    }

    // A 4 x 4 ramp as the texture, handed to the pipeline.
    void GiveTexture()
    {
        std::vector<float> pixels(16);
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = static_cast<float>(i) / 15.0f;
        doc->heightMap.SetImage(4, 4, std::move(pixels));
        ++doc->pixelGeneration;
        ++doc->pipelinePixelGeneration;
        doc->SyncTextureToPipeline();
        doc->UpdatePreview();
    }

    // Runs finish at once with the source as the result and the given report figures.
    void FakeRuns(std::uint64_t resultTriangles = 12345, float relief = 0.5f, std::uint64_t displaced = 1)
    {
        doc->pipeline.SetRunForTesting(
            [=](mesh::PipelineStages& stages, const mesh::ProgressCallback&) {
                stages.result = stages.source;
                stages.report = mesh::PipelineReport{};
                stages.report.resultTriangles = resultTriangles;
                stages.report.displacementReport.displacedVertices = displaced;
                stages.report.displacementReport.relief = relief;
                stages.stageDirty = {0, 0, 0, 0};
                return true;
            });
    }

    // A run that goes on until it is cancelled.
    void BlockingRuns()
    {
        doc->pipeline.SetRunForTesting([](mesh::PipelineStages&, const mesh::ProgressCallback& progress) {
            while (progress("Displacing", -1.0f))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return false;
        });
    }

    // Polls until a run is reported.
    void PollUntilReported()
    {
        while (!doc->PollPipeline())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
};

}  // namespace grainforge::test
