// SPDX-License-Identifier: GPL-3.0-or-later
// The features of -method joint on small hand-made tables: pooling by sample sizes, the
// others' mean, the scales (MAD, standard deviation where the MAD is 0, constant features
// dropped), and the leave-one-out of its cross-validation.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "config.h"
#include "observed_data.h"
#include "posterior/joint.h"
#include "reference_table.h"
#include "support.h"

namespace {

ReferenceTable empty_table(int npop, long long size, int nc_fis, int nc_fst) {
  ReferenceTable t;
  t.size = size;
  t.npop = npop;
  t.nc_fis = nc_fis;
  t.nc_fst = nc_fst;
  t.parameters.assign(static_cast<size_t>(2) * npop * size, 0.5f);
  t.stats_fis.assign(static_cast<size_t>(npop) * size * nc_fis, 0.0f);
  t.stats_fst.assign(static_cast<size_t>(npop) * size * nc_fst, 0.0f);
  return t;
}

// The observed data's shape: I loci, every population's per-locus sample sizes.
void set_observed(Job& job, const std::vector<std::vector<int>>& sizes) {
  job.J = static_cast<int>(sizes.size());
  job.I = static_cast<int>(sizes[0].size());
  job.pop_target.assign(static_cast<size_t>(job.J) * job.I, LocusRecord{0, 0, 0.0});
  for (int p = 0; p < job.J; ++p)
    for (int l = 0; l < job.I; ++l) job.pop_target[job.record_index(p, l)].n = sizes[p][l];
  job.target_fis.assign(static_cast<size_t>(job.J) * job.nb_class_fis, 0.0);
  job.target_fst.assign(static_cast<size_t>(job.J) * job.nb_class_fst, 0.0);
}

class JointFeaturesTest : public ::testing::Test {
 protected:
  Job job;
};

}  // namespace

TEST_F(JointFeaturesTest, PoolsScalesAndTheOthersMean) {
  job.nb_class_fis = 1;
  job.nb_class_fst = 1;
  // Populations 1 and 3 share their sample sizes; population 2 differs at the second locus.
  set_observed(job, {{10, 10}, {10, 12}, {10, 10}});
  ReferenceTable t = empty_table(3, 8, 1, 1);
  for (long long r = 0; r < 8; ++r) {
    t.stats_fis[0 * 8 + r] = r < 5 ? 0.0f : static_cast<float>(r);  // 0 0 0 0 0 5 6 7
    t.stats_fis[1 * 8 + r] = static_cast<float>(r + 1);             // 1 .. 8
    t.stats_fis[2 * 8 + r] = 0.0f;
  }
  // The Fst statistic is 0 everywhere: own and others' mean are constant, hence dropped.
  job.target_fis = {1.0, 4.0, 3.0};
  const JointFeatures f = prepare_joint_features(job, t);

  ASSERT_EQ(f.nfeatures, 4);
  EXPECT_EQ(f.names, (std::vector<std::string>{"fis1", "fst1", "others_fis1", "others_fst1"}));
  EXPECT_EQ(f.pool_of, (std::vector<int>{0, 1, 0}));
  ASSERT_EQ(f.pools.size(), 2u);
  EXPECT_EQ(f.pools[0].populations, (std::vector<int>{0, 2}));
  EXPECT_EQ(f.pools[0].count, 16);
  EXPECT_EQ(f.pools[1].count, 8);
  for (const JointPool& pool : f.pools) EXPECT_EQ(pool.kept, (std::vector<int>{0, 2}));

  // Population 2's Fis statistic 1 .. 8: median 5, absolute deviations 0 1 1 2 2 3 3 4,
  // MAD 2. Its others' mean (population 1's value / 2) is 0 in 5 rows of 8: MAD 0, so the
  // standard deviation of {0 x 5, 2.5, 3, 3.5}.
  const JointPool& alone = f.pools[1];
  EXPECT_NEAR(alone.scale[0], 2 * 1.4826, 1e-12);
  EXPECT_NEAR(alone.scale[2], std::sqrt(27.5 / 8 - 1.125 * 1.125), 1e-12);
  EXPECT_EQ(alone.scale[1], 0.0);
  EXPECT_EQ(alone.scale[3], 0.0);
  for (long long r = 0; r < 8; ++r) {
    SCOPED_TRACE(r);
    EXPECT_NEAR(alone.row(r)[0], (r + 1) / alone.scale[0], 1e-6);
    EXPECT_NEAR(alone.row(r)[1], t.stats_fis[r] / 2 / alone.scale[2], 1e-6);
  }
  // Populations 1 and 3 pooled: Fis is 0 in 13 values of 16, so its scale is the standard
  // deviation of {0 x 13, 5, 6, 7}; population 3 in table row 6 is training row 8 + 6.
  const JointPool& pooled = f.pools[0];
  EXPECT_NEAR(pooled.scale[0], std::sqrt(110.0 / 16 - 1.125 * 1.125), 1e-12);
  EXPECT_NEAR(pooled.row(8 + 6)[1], (6.0 + 7.0) / 2 / pooled.scale[2], 1e-6);
  EXPECT_NEAR(pooled.row(6)[1], (7.0 + 0.0) / 2 / pooled.scale[2], 1e-6);

  // The observed features are scaled by the pool's scales.
  ASSERT_EQ(f.observed[1].size(), 2u);
  EXPECT_NEAR(f.observed[1][0], 4.0 / alone.scale[0], 1e-6);
  EXPECT_NEAR(f.observed[1][1], (1.0 + 3.0) / 2 / alone.scale[2], 1e-6);
  EXPECT_NEAR(f.observed[2][1], (1.0 + 4.0) / 2 / pooled.scale[2], 1e-6);

  // The draws: the -ar fraction of the smallest pool.
  EXPECT_EQ(joint_sample_size(f, 0.5), 4);
}

TEST_F(JointFeaturesTest, OnePopulationHasNoOthersMean) {
  job.nb_class_fis = 2;
  job.nb_class_fst = 1;
  set_observed(job, {{20, 20, 20}});
  ReferenceTable t = empty_table(1, 50, 2, 1);
  FixtureUniform u{7};
  for (float& v : t.stats_fis) v = static_cast<float>(u());
  for (float& v : t.stats_fst) v = static_cast<float>(u());
  const JointFeatures f = prepare_joint_features(job, t);
  EXPECT_EQ(f.nfeatures, 3);
  EXPECT_EQ(f.pools[0].kept, (std::vector<int>{0, 1, 2}));
}

TEST_F(JointFeaturesTest, CrossValidationLeavesOutThePseudoObservedDataSet) {
  job.nb_class_fis = 2;
  job.nb_class_fst = 2;
  set_observed(job, {{20, 20}, {20, 20}});
  ReferenceTable t = empty_table(2, 300, 2, 2);
  FixtureUniform u{99};
  for (float& v : t.parameters) v = static_cast<float>(u());
  for (float& v : t.stats_fis) v = static_cast<float>(u());
  for (float& v : t.stats_fst) v = static_cast<float>(u());
  const JointFeatures f = prepare_joint_features(job, t);
  const std::vector<long long> pods = {0, 17, 299};
  // One draw per estimate: its unadjusted mean is the nearest training row's parameter.
  // Were the data set's own rows candidates, its own row would be that row (distance 0).
  const std::vector<CvEstimate> e = joint_cross_validate(t, f, pods, 1, 0.95, 1);
  ASSERT_EQ(e.size(), pods.size() * 4);
  for (const CvEstimate& row : e) {
    SCOPED_TRACE(row.pod * 10 + row.parameter);
    EXPECT_NE(row.mean_unadjusted, row.truth);
    EXPECT_TRUE(std::isnan(row.mean_adjusted));  // one draw cannot carry a regression
  }
}
