// The command line's --stats lines and --json objects, whole, for a written
// run with odd figures and a failed run with an odd name.
#include <gtest/gtest.h>

#include <cmath>

#include "mesh/mesh_report.h"
#include "run_report.h"
#include "support/meshes.h"

using stlrefine::cli::FileRun;

TEST(RunReport, WrittenRunWithStats) {
    stlrefine::RefineReport report;
    report.outcome = stlrefine::RefineOutcome::Written;
    report.inputFormat = stlrefine::StlFormat::Binary;
    report.verticesIn = report.facetsIn = 4;
    report.verticesOut = 10, report.facetsOut = 16, report.iterationsRun = 2, report.stoppedByHeight = true;
    report.inputMesh = stlrefine::reportMesh(testing_support::tetrahedron());
    // An open mesh with a NaN corner and an overflowing volume: no figure may break the JSON.
    stlrefine::MeshReport open;
    open.vertices = open.facets = open.parts = 1, open.flippedEdges = 2;
    open.edges = open.boundaryEdges = open.facetsWithOpenEdges = 3;
    open.boxMin[1] = NAN;
    open.boxMax[0] = 1e30f;
    open.area = 0.5;
    open.volume = -INFINITY;
    report.refinedMesh = open;
    const FileRun run{.input = "dir/a.stl",
                      .output = "-",
                      .iterationsAsked = 3,
                      .maxHeight = 0.1f,
                      .seconds = 0.25,
                      .report = report};

    EXPECT_EQ(stlrefine::cli::jsonLine(run, true),
              R"({"input":"dir/a.stl","output":"-","status":"written","exit_status":0,"input_type":"binary",)"
              R"("facets_in":4,"vertices_in":4,"facets_out":16,"vertices_out":10,"iterations_asked":3,)"
              R"("max_height":0.1,"iterations_run":2,"stopped":"height","seconds":0.25,"reason":null,)"
              R"("input_mesh":{"vertices":4,"facets":4,"edges":6,"boundary_edges":0,"non_manifold_edges":0,)"
              R"("flipped_edges":0,"degenerate_facets":0,"facets_with_open_edges":0,"parts":1,)"
              R"("box_min":[0,0,0],"box_max":[2,2,2],"area":9.464101615137753,"volume":1.3333333333333333,)"
              R"("closed":true},)"
              R"("refined_mesh":{"vertices":1,"facets":1,"edges":3,"boundary_edges":3,"non_manifold_edges":0,)"
              R"("flipped_edges":2,"degenerate_facets":0,"facets_with_open_edges":3,"parts":1,)"
              R"("box_min":[0,null,0],"box_max":[1e+30,0,0],"area":0.5,"volume":null,"closed":false}})"
              "\n");
    EXPECT_EQ(stlrefine::cli::statsText(run),
              "stlrefine: input mesh: 4 vertices, 4 facets (0 degenerate), 6 edges (0 boundary, "
              "0 non-manifold), 1 part\n"
              "stlrefine:   box (0, 0, 0) to (2, 2, 2)\n"
              "stlrefine:   area 9.4641, volume 1.33333 (closed)\n"
              "stlrefine: refined mesh: 1 vertex, 1 facet (0 degenerate), 3 edges (3 boundary, "
              "0 non-manifold), 1 part\n"
              "stlrefine:   box (0, nan, 0) to (1e+30, 0, 0)\n"
              "stlrefine:   area 0.5, volume -inf (not closed, 2 inconsistently oriented edges; the volume "
              "means little)\n");
}

TEST(RunReport, FailedRunWithOddName) {
    // A quote, a backslash, a tab, a control byte, a byte that is not UTF-8,
    // then U+00E9 and U+1F600 in UTF-8.
    FileRun run{.input = "a\"b\\c\td\x01\xff\xc3\xa9\xf0\x9f\x98\x80.stl",
                .output = "out.stl",
                .exitStatus = 1,
                .iterationsAsked = -1,
                .maxHeight = {},
                .report = {}};
    run.report.outcome = stlrefine::RefineOutcome::InputNotOpened;
    run.report.reason = "No such file or directory";
    EXPECT_EQ(stlrefine::cli::jsonLine(run, true),
              R"({"input":"a\"b\\c\td\u0001\udcff\u00e9\ud83d\ude00.stl","output":"out.stl",)"
              R"("status":"input-not-opened","exit_status":1,"input_type":"none","facets_in":0,)"
              R"("vertices_in":0,"facets_out":0,"vertices_out":0,"iterations_asked":null,"max_height":null,)"
              R"("iterations_run":0,"stopped":null,"seconds":0,"reason":"No such file or directory",)"
              R"("input_mesh":null,"refined_mesh":null})"
              "\n");
    EXPECT_EQ(stlrefine::cli::statsText(run), "");
}
