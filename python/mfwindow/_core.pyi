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

def settle(increments: int, order: int, window: int, min_scale: int,
           shift: int, t0: float, dt: float,
           threads: int) -> Tuple[Dict[str, int], List[Tuple[str, int, int]]]: ...
def analyse(samples: ArrayLike, increments: int, order: int, window: int,
            min_scale: int, shift: int, t0: float, dt: float, threads: int,
            spectrum: bool,
            progress: Optional[Progress] = ...) -> Dict[str, np.ndarray]: ...

def analyse_file(path: str, increments: int, order: int, window: int,
                 min_scale: int, shift: int, t0: float, dt: float,
                 threads: int, spectrum: bool, column: str = ...,
                 header: str = ..., delimiter: str = ...,
                 on_bad_sample: str = ..., out_dir: str = ...,
                 csv: bool = ..., base_dir: str = ...) -> Dict[str, Any]: ...
