"""VecList.sum, mean and bounds: every component against math.fsum and exact
rational arithmetic, bit for bit, and the same bits with the elements reversed.
(The same bits for other thread counts: tests/test_bulk.py and the C++ tests.)"""
import math
import random

import pytest

from models import vec_list as model
from models.bits import bits, same
from support.helpers import raises_exactly

from orvath import VecList

MAX = 1.7976931348623157e308
rng = random.Random(24)
COLUMNS = {
    "cancellation": [1e308, -1e308, 1.0, 1e308, 3.0, -1e308],
    "subnormals only": [rng.choice((1, -1)) * rng.randrange(1, 2**52) * 5e-324 for _ in range(3000)],
    "every exponent": [(-1) ** e * 2.0**e for e in range(-1074, 1024)] + [MAX, 3.0, -5e-324],
    "small terms beside a large one": [2.0**53] + [1.0] * 1001 + [2.0**-60] * 5,
    "tie to even, down": [1.0, 2.0**-53],
    "tie to even, up": [1.0 + 2.0**-52, 2.0**-53],
    "just above a tie": [-1.0, -(2.0**-53), -5e-324],
    "tie at the top of the range": [MAX, 2.0**970],
    "just below that tie": [2.0**970 - 2.0**918, MAX],
    "overflow on the way only": [MAX, MAX, -MAX, 1.0],
    "NaNs of both signs": [-math.nan, 1.0, math.nan],
    "both infinities": [math.inf, 1.0, -math.inf],
    "an infinity beside an overflow": [MAX, math.inf, MAX],
    "signed zeros": [-0.0, -0.0, 0.0, -0.0],
    "negative zeros only": [-0.0, -0.0],
    "random at 1e6": [rng.gauss(0.0, 1.0) * 2.0 ** rng.randint(-25, 25) for _ in range(10**6)],
}


@pytest.mark.parametrize("column", COLUMNS.values(), ids=COLUMNS.keys())
def test_sum_mean_and_bounds_match_the_models(column):
    columns = (column, [-v for v in column], [3.0 * v for v in column])
    rows = list(zip(*columns))
    results = []
    for order in (rows, rows[::-1]):
        vl = VecList.from_array(order)
        total, mean, (low, high) = vl.sum(), vl.mean(), vl.bounds()
        for k, col in enumerate(columns):
            want, (lo, hi) = model.exact_sum(col), model.bounds(col)
            assert same(total[k], want) and same(mean[k], want / len(col)), (k, total, mean, want)
            assert same(low[k], lo) and same(high[k], hi), (k, low, high)
        results.append([bits(v[k]) for v in (total, mean, low, high) for k in range(3)])
    assert results[0] == results[1]


def test_an_empty_list():
    assert [bits(c) for c in VecList.empty().sum()] == [bits(0.0)] * 3
    raises_exactly(ValueError, "mean of an empty VecList", VecList.empty().mean)
    raises_exactly(ValueError, "bounds of an empty VecList", VecList.empty().bounds)
