"""axiswarp.xarray: dims, attrs and name kept, coordinates moved to the output sample centres, lazy for Dask."""

import warnings

import numpy as np
import pytest

xr = pytest.importorskip("xarray")
da = pytest.importorskip("dask.array")
import axiswarp  # noqa: E402
import axiswarp.xarray as axr  # noqa: E402


def labelled(data, chunks=None):
    z, y, x = data.shape
    array = xr.DataArray(data if chunks is None else da.from_array(data, chunks=chunks), dims=("z", "y", "x"),
                         name="density", attrs={"units": "g/cm3"},
                         coords={"z": np.array([0.0, 1.0, 3.0, 7.0, 8.0, 20.0][:z]),  # not evenly spaced
                                 "y": 10.0 + 0.5 * np.arange(y),
                                 "x": np.arange(x) * 3,  # integers, evenly spaced
                                 "label": ("y", [f"row {i}" for i in range(y)]),
                                 "time": 4.5})
    return array


def centres(n, m):
    return (np.arange(m) + 0.5) * n / m - 0.5


@pytest.mark.parametrize("chunks", [None, (3, 5, 4)], ids=["numpy", "dask"])
def test_resize_keeps_labels_and_moves_coordinates(chunks):
    data = np.random.default_rng(4).normal(size=(6, 16, 12)).astype(np.float32)
    array = labelled(data, chunks)
    with pytest.warns(UserWarning, match="'label'"):
        out = axr.resize(array, {"y": 7, "x": 30}, kernel="lanczos3")
    assert (out.dims, out.name, out.attrs) == (array.dims, array.name, array.attrs)
    assert (out.chunks is not None) == (chunks is not None)
    expected = axiswarp.resize(data, (7, 30), axes=(1, 2), kernel="lanczos3")
    assert out.values.tobytes() == expected.tobytes()
    np.testing.assert_allclose(out["y"].values, 10.0 + 0.5 * centres(16, 7), rtol=0, atol=1e-12)
    np.testing.assert_allclose(out["x"].values, 3 * centres(12, 30), rtol=0, atol=1e-12)
    np.testing.assert_array_equal(out["z"].values, array["z"].values)
    assert out["time"].item() == 4.5 and "label" not in out.coords


def test_uneven_coordinates_are_interpolated_and_continued_past_the_ends():
    array = labelled(np.ones((6, 2, 2)))
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        out = axr.resize(array, zoom={"z": 2})
    # Positions -0.25, 0.25, 0.75, ..., 5.25 on the steps 1, 2, 4, 1, 12.
    expected = [-0.25, 0.25, 0.75, 1.5, 2.5, 4.0, 6.0, 7.25, 7.75, 11.0, 17.0, 23.0]
    np.testing.assert_allclose(out["z"].values, expected, rtol=0, atol=1e-12)


@pytest.mark.parametrize("sizes,zoom,error", [({"w": 3}, None, ValueError), (None, None, TypeError),
                                              ([3], None, TypeError), ({"y": 0}, None, ValueError)])
def test_bad_requests_are_refused(sizes, zoom, error):
    with pytest.raises(error):
        axr.resize(labelled(np.ones((2, 3, 4))), sizes, zoom=zoom)


@pytest.mark.parametrize("shape,axes,zoom,chunks", [((5, 6), (2, 0), None, 4), (None, None, 0.5, None),
                                                    ((9,), (1,), None, ((4, 5),))])
def test_dask_resize_takes_axes_and_zoom(shape, axes, zoom, chunks):
    data = np.random.default_rng(1).integers(0, 60000, (10, 12, 8), dtype=np.uint16)
    out = axiswarp.dask.resize(da.from_array(data, chunks=(3, 5, 4)), shape, axes=axes, zoom=zoom, chunks=chunks)
    expected = axiswarp.resize(data, shape, axes=axes, zoom=zoom)
    assert out.shape == expected.shape and out.compute().tobytes() == expected.tobytes()
