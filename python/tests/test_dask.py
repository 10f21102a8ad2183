"""axiswarp.dask at random chunkings against NumPy, byte for byte, threaded and on a LocalCluster."""

import math

import numpy as np
import pytest

da = pytest.importorskip("dask.array")
import dask  # noqa: E402

import axiswarp  # noqa: E402
import axiswarp.dask as adask  # noqa: E402


def random_chunks(rng, length):
    cuts = np.sort(rng.choice(np.arange(1, length), size=rng.integers(0, min(length - 1, 5) + 1), replace=False)) \
        if length > 1 else []
    bounds = [0, *cuts.tolist(), length] if len(cuts) else [0, length]
    return tuple(b - a for a, b in zip(bounds, bounds[1:]))


CASES = [
    (np.uint8, (40, 33, 3), "cubic"),
    (np.float32, (25, 60), "lanczos3"),
    (np.int16, (12, 9, 4, 3), "triangle"),
    (np.complex128, (17, 21), "lanczos2"),
    (np.bool_, (30, 8), "nearest"),
]


@pytest.mark.parametrize("dtype,shape,kernel", CASES, ids=[str(np.dtype(c[0])) for c in CASES])
def test_random_chunkings_give_the_numpy_bytes(dtype, shape, kernel):
    rng = np.random.default_rng(len(shape) * 31 + np.dtype(dtype).itemsize)
    a = rng.normal(0, 80, shape) + (1j * rng.normal(0, 80, shape) if np.dtype(dtype).kind == "c" else 0)
    a = (a.real > 0) if dtype == np.bool_ else np.asarray(a).astype(dtype)
    with dask.config.set(scheduler="threads"):
        for trial in range(4):
            chunks = tuple(random_chunks(rng, n) for n in shape)
            x = da.from_array(a, chunks=chunks)
            for axis in range(a.ndim):
                m = int(rng.integers(1, 2 * shape[axis] + 3))
                weights, indices = axiswarp.tables(shape[axis], m, kernel=kernel)
                out_chunks = None if trial % 2 else tuple(random_chunks(rng, m))
                lazy = adask.resize_axis(x, axis, weights, indices, chunks=out_chunks)
                expected = axiswarp.resize_axis(a, axis, weights, indices)
                assert lazy.shape == expected.shape and lazy.dtype == expected.dtype
                # Other axes keep the input's chunks.
                assert all(lazy.chunks[d] == x.chunks[d] for d in range(a.ndim) if d != axis)
                got = lazy.compute()
                assert got.tobytes() == np.ascontiguousarray(expected).tobytes(), (chunks, axis, m)


def test_resize_matches_numpy_and_errors_surface_at_compute():
    rng = np.random.default_rng(4)
    a = rng.integers(0, 65535, (70, 45, 3), dtype=np.uint16)
    x = da.from_array(a, chunks=(16, 10, 3))
    out = adask.resize(x, (31, 100), kernel="lanczos3")
    assert out.compute(scheduler="threads").tobytes() == axiswarp.resize(a, (31, 100), kernel="lanczos3").tobytes()
    weights, indices = axiswarp.tables(45, 20)
    indices[1, 7] = 46.0  # past the end: the chunk that holds it fails as the whole array does
    with pytest.raises(axiswarp.ModuleError) as whole:
        axiswarp.resize_axis(a, 1, weights, indices)
    with pytest.raises(axiswarp.ModuleError) as chunked:
        adask.resize_axis(x, 1, weights, indices).compute(scheduler="threads")
    assert chunked.value.identifier == whole.value.identifier
    with pytest.raises(ValueError, match="precise"):
        adask.resize(da.zeros((4, 4, 5), dtype=np.uint8), (2, 2), precise=True)


@pytest.mark.parametrize("dtype,channels,precise", [(np.uint8, 4, False), (np.uint16, 2, False),
                                                    (np.uint8, 3, True), (np.uint16, 1, True),
                                                    (np.int16, 2, False), (np.uint32, 1, True),
                                                    (np.float32, 4, False), (np.float32, 3, True)])
def test_the_double_path_of_images_with_alpha_or_precise_matches_numpy(dtype, channels, precise):
    rng = np.random.default_rng(channels)
    shape = (53, 41) + ((channels,) if channels > 1 else ())
    if np.issubdtype(dtype, np.floating):
        a = rng.uniform(-0.25, 1.25, shape).astype(dtype)
        top = 1.0
    else:
        a = rng.integers(np.iinfo(dtype).min, np.iinfo(dtype).max, shape, dtype=dtype, endpoint=True)
        top = np.iinfo(dtype).max
    if channels in (2, 4):
        a[..., -1] = np.abs(a[..., -1])
        a[::4, :, -1] = 0  # transparent rows
        a[1::4, :, -1] = top
    x = da.from_array(a, chunks=(10, 9) + ((1,) if channels > 1 else ()))
    for new in [(20, 70), (90, 13)]:
        expected = axiswarp.resize(a, new, kernel="lanczos3", precise=precise)
        got = adask.resize(x, new, kernel="lanczos3", precise=precise).compute(scheduler="threads")
        assert got.dtype == expected.dtype and got.tobytes() == expected.tobytes(), new


def test_two_worker_processes_on_a_local_cluster():
    distributed = pytest.importorskip("distributed")
    rng = np.random.default_rng(8)
    a = rng.integers(0, 255, (300, 200, 3), dtype=np.uint8)
    x = da.from_array(a, chunks=(64, 50, 3))
    lazy = adask.resize(x, (123, 457))
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None, worker_dashboard_address=None,
                                  silence_logs=40) as cluster, distributed.Client(cluster, timeout=60) as client:
        client.wait_for_workers(2, timeout=60)
        future = client.compute(lazy)
        got = future.result(timeout=120)
        workers = set(client.run(lambda: __import__("os").getpid()).values())
    assert len(workers) == 2
    assert got.tobytes() == axiswarp.resize(a, (123, 457)).tobytes()


@pytest.mark.parametrize("dtype,channels,border,cval", [(np.uint8, 3, "constant", 90), (np.uint16, 4, "constant", 7),
                                                        (np.float32, 1, "constant", -1.5), (np.int16, 3, "wrap", 0),
                                                        (np.uint8, 1, "mirror", 0)])
def test_borders_and_fills_at_random_chunkings_give_the_numpy_bytes(dtype, channels, border, cval):
    rng = np.random.default_rng(channels * 10 + len(border))
    shape = (37, 29) + ((channels,) if channels > 1 else ())
    a = rng.uniform(0, 200, shape).astype(dtype)
    for trial in range(3):
        x = da.from_array(a, chunks=tuple(random_chunks(rng, n) for n in shape))
        for new in [(15, 70), (80, 9)]:
            expected = axiswarp.resize(a, new, kernel="lanczos3", border=border, cval=cval)
            got = adask.resize(x, new, kernel="lanczos3", border=border, cval=cval).compute(scheduler="threads")
            assert got.dtype == expected.dtype and got.tobytes() == expected.tobytes(), (trial, new)


def test_each_output_chunk_is_one_task_that_reads_its_own_window():
    # From a zarr store the tasks read their windows themselves: the graph
    # holds the stored array and the output chunks, no input chunk and no
    # slice. From chunks in memory, the output chunks' tasks take the input
    # chunks directly. Either way the bytes are NumPy's.
    zarr = pytest.importorskip("zarr")
    rng = np.random.default_rng(11)
    a = rng.integers(0, 65535, (61, 47, 5), dtype=np.uint16)
    stored = zarr.array(a, chunks=(16, 12, 2), store=zarr.MemoryStore())
    expected = axiswarp.resize(a, (30, 23), kernel="lanczos3")
    for x in (da.from_zarr(stored), da.from_array(a, chunks=(16, 12, 2)).map_blocks(np.copy)):
        lazy = adask.resize(x, (30, 23), kernel="lanczos3", chunks=(8, 6))
        graph = lazy.__dask_optimize__(lazy.__dask_graph__(), lazy.__dask_keys__())
        outputs = [k for k in graph if isinstance(k, tuple) and k[0] == lazy.name]
        tables = [k for k in graph if isinstance(k, tuple) and k[0] == lazy.name + "-tables"]
        others = [k for k in graph if k not in outputs and k not in tables]
        assert len(outputs) == math.prod(lazy.numblocks)
        # One entry of table columns per output chunk along each resized
        # axis, which the tasks name by key instead of each carrying a copy.
        assert len(tables) == lazy.numblocks[0] + lazy.numblocks[1]
        assert not any(isinstance(v, np.ndarray) for k in outputs for v in _leaves(graph[k]))
        if x.name.startswith("from-zarr"):
            assert len(others) == 1  # the stored array
        else:
            assert set(others) <= set(x.__dask_graph__())  # the input's own tasks, nothing between
        assert lazy.compute(scheduler="threads").tobytes() == expected.tobytes()


def _leaves(value):
    if isinstance(value, (tuple, list)):
        for item in value:
            yield from _leaves(item)
    else:
        yield value


@pytest.mark.parametrize("shape,dtype,order", [((300, 500), np.float32, "C"), ((7, 5, 3), np.uint16, "F"),
                                                ((0, 4), np.float64, "C")])
def test_host_empty_gives_a_writable_host_block_of_the_shape(shape, dtype, order):
    from axiswarp._call import host_empty
    before = axiswarp.live_counts()
    a = host_empty(shape, dtype, order)
    assert (a.shape, a.dtype) == (shape, np.dtype(dtype))
    assert a.flags.c_contiguous if order == "C" else a.flags.f_contiguous
    assert a.flags.writeable and a.ctypes.data % 16 == 0
    assert axiswarp.live_counts()[2] == before[2] + 1  # a handed-over host block, until the array goes
    values = np.arange(a.size, dtype=dtype).reshape(shape, order=order)
    a[...] = values
    assert np.array_equal(a, values)
    del a
    assert axiswarp.live_counts() == before
