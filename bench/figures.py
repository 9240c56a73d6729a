"""The few statistics the benchmark reports."""
import math


def median(values):
    ordered = sorted(values)
    if not ordered:
        raise ValueError("no values")
    middle = len(ordered) // 2
    if len(ordered) % 2:
        return ordered[middle]
    return (ordered[middle - 1] + ordered[middle]) / 2


def percentile(values, percent):
    """The nearest-rank percentile: the smallest value that at least
    `percent` per cent of the values do not exceed."""
    ordered = sorted(values)
    if not ordered:
        raise ValueError("no values")
    rank = max(1, math.ceil(percent / 100 * len(ordered)))
    return ordered[rank - 1]
