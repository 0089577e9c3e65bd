# Types of the compiled core (python/core_module.cpp). Private: use
# mfwindow.analyse.
from typing import Any, Dict, List, Optional, Tuple

import numpy as np
from numpy.typing import ArrayLike

__version__: str
MOMENT_COUNT: int
ALFA_COUNT: int

class Stopped(Exception): ...

class Progress:
    def __init__(self) -> None: ...
    @property
    def done(self) -> int: ...
    @property
    def total(self) -> int: ...
    def stop(self) -> None: ...

# The method and surrogate options, keyed as mfwindow.analyse names them:
# profile, fluctuation ("range"/"rms"), q (list or None), q_min, q_max,
# q_count, max_scale (0: window // 5), scale_count, fit_min, fit_max (0: no
# bound), fq, range_floor, surrogates, surrogate ("shuffle"/"phase"/
# "iaaft"), seed. Keys left out keep their defaults.
Method = Dict[str, Any]

def settle(increments: int, order: int, window: int, min_scale: int,
           shift: int, t0: float, dt: float, threads: int,
           method: Method = ...) -> Tuple[Dict[str, Any],
                                          List[Tuple[str, int, int]]]: ...
def analyse(samples: ArrayLike, increments: int, order: int, window: int,
            min_scale: int, shift: int, t0: float, dt: float, threads: int,
            spectrum: bool, method: Method = ...,
            progress: Optional[Progress] = ...) -> Dict[str, Any]: ...

def analyse_file(path: str, increments: int, order: int, window: int,
                 min_scale: int, shift: int, t0: float, dt: float,
                 threads: int, spectrum: bool, method: Method = ...,
                 column: str = ...,
                 header: str = ..., delimiter: str = ...,
                 on_bad_sample: str = ..., out_dir: str = ...,
                 csv: bool = ..., base_dir: str = ...) -> Dict[str, Any]: ...
